// Scores that once troubled the program (from fuzzing or by hand) converted
// in memory; under the sanitizer build any fault they provoke fails here.
#include <dirent.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "driver/conversion.h"
#include "memory_streams.h"
#include "sound/period_table.h"

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
  buildPeriodTable();
  std::vector<std::string> files = regressionFiles();
  ASSERT_FALSE(files.empty());
  std::FILE* discard = std::tmpfile();
  for (const std::string& file : files) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    MemorySource source;
    source.bytes = bytes.str();
    MemorySink sink;
    Failure failure =
        convertStreams(memorySource(source), memorySink(sink), "case", Console{discard, discard});
    EXPECT_TRUE(failure == Failure::none || failure == Failure::tooLong) << file;
    if (failure == Failure::none) {
      ASSERT_GE(sink.bytes.size(), 44u) << file;
      EXPECT_EQ(std::string(sink.bytes.begin(), sink.bytes.begin() + 4), "RIFF") << file;
    } else {
      EXPECT_TRUE(sink.bytes.empty()) << file;
    }
  }
  std::fclose(discard);
}

}  // namespace
