// The format of every WAV file the program writes: 8-bit unsigned mono PCM at
// 8000 samples per second.
#pragma once

#include <cstdint>

struct WaveFormat {
  std::int16_t channels = 1;
  std::int32_t sampleRate = 8000;  // samples per second
  std::int32_t byteRate = 8000;    // bytes per second: one byte a sample
  std::int16_t blockAlign = 1;     // bytes per sample frame
  std::int16_t bitsPerSample = 8;
  std::int32_t dataSize = 0;  // declared bytes of sample data
};

// Size of the RIFF/WAVE header before the first sample, in bytes.
constexpr int waveHeaderSize = 44;

// The sample of silence: the midpoint of unsigned 8-bit samples.
constexpr unsigned char waveSilence = 128;
