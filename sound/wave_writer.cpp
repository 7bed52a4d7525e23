#include "sound/wave_writer.h"

#include <cstring>

namespace {

// Stores a four-character tag without its terminator; returns the position after it.
unsigned char* writeTag(unsigned char* out, const char (&tag)[5]) {
  std::memcpy(out, tag, 4);
  return out + 4;
}

// Two's complement bits of a signed field, as the file stores them.
std::uint32_t bitsOf(std::int32_t value) { return static_cast<std::uint32_t>(value); }

}  // namespace

unsigned char* writeLittleEndian(unsigned char* out, std::uint32_t value, int byteCount) {
  for (int i = 0; i < byteCount; ++i) {
    *out++ = static_cast<unsigned char>(value & 0xFFu);
    value >>= 8;
  }
  return out;
}

void writeWaveHeader(unsigned char (&header)[waveHeaderSize], const WaveFormat& format) {
  const std::uint32_t fmtChunkSize = 16;  // the PCM "fmt " chunk's fields below
  const std::uint32_t pcmFormatTag = 1;
  // RIFF size: "WAVE" (4) + "fmt " chunk (8 + 16) + "data" chunk head (8).
  const std::uint32_t riffOverhead = 36;

  unsigned char* out = header;
  out = writeTag(out, "RIFF");
  out = writeLittleEndian(out, bitsOf(format.dataSize) + riffOverhead, 4);
  out = writeTag(out, "WAVE");
  out = writeTag(out, "fmt ");
  out = writeLittleEndian(out, fmtChunkSize, 4);
  out = writeLittleEndian(out, pcmFormatTag, 2);
  out = writeLittleEndian(out, static_cast<std::uint16_t>(format.channels), 2);
  out = writeLittleEndian(out, bitsOf(format.sampleRate), 4);
  out = writeLittleEndian(out, bitsOf(format.byteRate), 4);
  out = writeLittleEndian(out, static_cast<std::uint16_t>(format.blockAlign), 2);
  out = writeLittleEndian(out, static_cast<std::uint16_t>(format.bitsPerSample), 2);
  out = writeTag(out, "data");
  writeLittleEndian(out, bitsOf(format.dataSize), 4);
}
