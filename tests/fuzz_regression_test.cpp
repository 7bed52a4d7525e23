// Scores that once troubled the program (from fuzzing or by hand) converted
// in memory; under the sanitizer build any fault they provoke fails here.
#include <dirent.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "driver/conversion.h"
#include "driver/memory_conversion.h"

namespace {

std::vector<std::string> regressionFiles() {
  std::vector<std::string> files;
  if (DIR* folder = opendir(FUZZ_REGRESSIONS_DIR)) {
    while (dirent* entry = readdir(folder)) {
      if (entry->d_name[0] != '.')
        files.push_back(std::string(FUZZ_REGRESSIONS_DIR "/") + entry->d_name);
    }
    closedir(folder);
  }
  return files;
}

TEST(FuzzRegressions, EveryCaseConvertsOrFailsCleanly) {
  std::vector<std::string> files = regressionFiles();
  ASSERT_FALSE(files.empty());
  for (const std::string& file : files) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    std::string score = bytes.str();
    MemoryConversion result;
    convertMemory(reinterpret_cast<const unsigned char*>(score.data()), score.size(), "case",
                  result);
    Failure failure = result.outcome.failure;
    EXPECT_TRUE(failure == Failure::none || failure == Failure::tooLong) << file;
    if (failure == Failure::none) {
      ASSERT_GE(result.wav.size, 44u) << file;
      EXPECT_EQ(std::string(result.wav.bytes, result.wav.bytes + 4), "RIFF") << file;
    } else {
      EXPECT_EQ(result.wav.size, 0u) << file;
      EXPECT_EQ(result.out, "Score too long.\n") << file;
    }
  }
}

}  // namespace
