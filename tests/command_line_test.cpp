#include "driver/command_line.h"

#include <gtest/gtest.h>

namespace {

using Arguments = std::vector<std::string>;

TEST(CommandLine, SplitsAtRunsOfBlanks) {
  EXPECT_EQ(splitCommandLine("score2wav.exe  song.txt"), (Arguments{"score2wav.exe", "song.txt"}));
  EXPECT_EQ(splitCommandLine(" a\t\tb  "), (Arguments{"a", "b"}));
  EXPECT_EQ(splitCommandLine(""), Arguments{});
}

TEST(CommandLine, QuotesKeepBlanksAndBackslashesAreOrdinary) {
  EXPECT_EQ(splitCommandLine("\"C:\\Program Files\\score2wav.exe\" \"C:\\My Music\\song.txt\""),
            (Arguments{"C:\\Program Files\\score2wav.exe", "C:\\My Music\\song.txt"}));
  EXPECT_EQ(splitCommandLine("x \"C:\\dir\\\" y"), (Arguments{"x", "C:\\dir\\", "y"}));
  EXPECT_EQ(splitCommandLine("x a\"b c\"d"), (Arguments{"x", "ab cd"}));
  EXPECT_EQ(splitCommandLine("x \"\""), (Arguments{"x", ""}));
  // Without quotes a path with spaces is several arguments.
  EXPECT_EQ(splitCommandLine("x C:\\My Music\\song.txt").size(), 3u);
}

}  // namespace
