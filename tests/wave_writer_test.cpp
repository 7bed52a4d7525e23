#include "sound/wave_writer.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<unsigned char> header(std::int32_t dataSize) {
  WaveFormat format;
  format.dataSize = dataSize;
  unsigned char bytes[waveHeaderSize];
  writeWaveHeader(bytes, format);
  return std::vector<unsigned char>(bytes, bytes + waveHeaderSize);
}

TEST(WaveWriter, HeaderOfTheExampleScore) {
  const std::vector<unsigned char> expected = {
      0x52, 0x49, 0x46, 0x46, 0x04, 0x2F, 0x00, 0x00, 0x57, 0x41, 0x56, 0x45, 0x66, 0x6D, 0x74,
      0x20, 0x10, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x40, 0x1F, 0x00, 0x00, 0x40, 0x1F,
      0x00, 0x00, 0x01, 0x00, 0x08, 0x00, 0x64, 0x61, 0x74, 0x61, 0xE0, 0x2E, 0x00, 0x00};
  EXPECT_EQ(header(12000), expected);
}

TEST(WaveWriter, SizesAtTheEdges) {
  std::vector<unsigned char> empty = header(0);
  EXPECT_EQ(std::vector<unsigned char>(empty.begin() + 4, empty.begin() + 8),
            (std::vector<unsigned char>{36, 0, 0, 0}));
  EXPECT_EQ(std::vector<unsigned char>(empty.begin() + 40, empty.end()),
            (std::vector<unsigned char>{0, 0, 0, 0}));
  std::vector<unsigned char> largest = header(2147483611);
  EXPECT_EQ(std::vector<unsigned char>(largest.begin() + 4, largest.begin() + 8),
            (std::vector<unsigned char>{0xFF, 0xFF, 0xFF, 0x7F}));
  std::vector<unsigned char> negative = header(-12000);
  EXPECT_EQ(std::vector<unsigned char>(negative.begin() + 40, negative.end()),
            (std::vector<unsigned char>{0x20, 0xD1, 0xFF, 0xFF}));
}

TEST(WaveWriter, LittleEndianWritesOnlyTheLowBytes) {
  unsigned char bytes[4] = {9, 9, 9, 9};
  EXPECT_EQ(writeLittleEndian(bytes, 0xA1B2C3D4u, 2), bytes + 2);
  EXPECT_EQ(bytes[0], 0xD4);
  EXPECT_EQ(bytes[1], 0xC3);
  EXPECT_EQ(bytes[2], 9);
}

}  // namespace
