// The 44-byte RIFF/WAVE header.
#pragma once

#include <cstdint>

#include "sound/wave_format.h"

// Stores the low byteCount bytes of value at out, least significant first;
// returns the position after them.
unsigned char* writeLittleEndian(unsigned char* out, std::uint32_t value, int byteCount);

// Fills header[0..44) with the RIFF/WAVE header for format: a "fmt " chunk
// for PCM and a "data" chunk of format.dataSize bytes. A negative size is
// written as its two's complement, as the format's 32-bit field holds it.
void writeWaveHeader(unsigned char (&header)[waveHeaderSize], const WaveFormat& format);
