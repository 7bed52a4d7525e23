#include "driver/output_path.h"

#include <gtest/gtest.h>

namespace {

TEST(OutputPath, ReplacesTheExtensionOfTheLastComponentOnly) {
  EXPECT_EQ(makeOutputName("C:\\music\\song.txt"), "C:\\music\\song.wav");
  EXPECT_EQ(makeOutputName("song"), "song.wav");
  EXPECT_EQ(makeOutputName("a.b.c"), "a.b.wav");
  EXPECT_EQ(makeOutputName("C:\\my.dir\\song"), "C:\\my.dir\\song.wav");
  EXPECT_EQ(makeOutputName("dir.x/song"), "dir.x/song.wav");
  EXPECT_EQ(makeOutputName("./song"), "./song.wav");
  EXPECT_EQ(makeOutputName("notes/.score"), "notes/.wav");
  EXPECT_EQ(makeOutputName("tune.wav"), "tune.wav");
  EXPECT_EQ(makeOutputName("a.b/c\\d.e"), "a.b/c\\d.wav");
}

TEST(OutputPath, NoLengthLimit) {
  std::string folder(300, 'f');
  EXPECT_EQ(makeOutputName(folder + "/" + std::string(200, 's') + ".txt"),
            folder + "/" + std::string(200, 's') + ".wav");
}

}  // namespace
