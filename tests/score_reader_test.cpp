#include "score/score_reader.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "memory_streams.h"

namespace {

// Reads every character the reader yields.
std::string readAll(ScoreReader& reader) {
  std::string out;
  for (int c = nextChar(reader); c >= 0; c = nextChar(reader)) out.push_back(static_cast<char>(c));
  return out;
}

struct ReaderFixture {
  MemorySource memory;
  std::unique_ptr<ScoreReader> reader = std::make_unique<ScoreReader>();
  explicit ReaderFixture(std::string bytes, std::size_t chunk = 1 << 20) {
    memory.bytes = std::move(bytes);
    memory.chunk = chunk;
    startReader(*reader, memorySource(memory));
  }
};

TEST(ScoreReader, FoldsCrLfButKeepsLoneCrAndCtrlZ) {
  std::string bytes = std::string(
      "a\r\nb\rc\x1A"
      "d\r\r\n\r",
      12);
  for (std::size_t chunk : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{64}}) {
    ReaderFixture f(bytes, chunk);  // chunk 1 splits every CR LF across two reads
    EXPECT_EQ(readAll(*f.reader), std::string("a\nb\rc\x1A"
                                              "d\r\n\r",
                                              10))
        << "chunk " << chunk;
    EXPECT_FALSE(f.reader->failed);
  }
}

TEST(ScoreReader, CountsLinesAfterFolding) {
  for (std::size_t chunk : {std::size_t{1}, std::size_t{3}, std::size_t{64}}) {
    ReaderFixture f("ab\r\ncd\re\nf", chunk);
    readAll(*f.reader);
    // "ab" CR LF, then "cd" CR "e" LF: line 3 starts after the second LF.
    EXPECT_EQ(f.reader->line, 3) << chunk;
    EXPECT_EQ(f.reader->lineStart, 9) << chunk;
  }
}

TEST(ScoreReader, ReportsReadErrorAsFailureNotEnd) {
  ReaderFixture f("abcdef", 2);
  f.memory.failAfterReads = 1;
  EXPECT_EQ(readAll(*f.reader), "ab");
  EXPECT_TRUE(f.reader->failed);
  EXPECT_FALSE(returnToMark(*f.reader, ReaderMark{}));
}

TEST(ScoreReader, ReadErrorWhileLookingForLfAfterCr) {
  ReaderFixture f("a\r\n", 2);
  f.memory.failAfterReads = 1;
  EXPECT_EQ(nextChar(*f.reader), 'a');
  EXPECT_EQ(nextChar(*f.reader), -1);
  EXPECT_TRUE(f.reader->failed);
}

TEST(ScoreReader, ReturnsToMarkAcrossBlocksAndFoldedPairs) {
  std::string bytes = "x\r\n" + std::string(100000, 'q') + "\r\nend";
  ReaderFixture f(bytes, 4096);
  EXPECT_EQ(nextChar(*f.reader), 'x');
  EXPECT_EQ(nextChar(*f.reader), '\n');
  ReaderMark mark = markReader(*f.reader);
  EXPECT_EQ(mark.offset, 3);
  std::string first = readAll(*f.reader);
  ASSERT_TRUE(returnToMark(*f.reader, mark));
  EXPECT_EQ(f.reader->line, 2);
  EXPECT_EQ(readAll(*f.reader), first);
  EXPECT_EQ(first.size(), 100000u + 4u);
}

TEST(ScoreReader, CannotReturnOnUnseekableSource) {
  ReaderFixture f("abc");
  f.memory.seekable = false;
  readAll(*f.reader);
  EXPECT_FALSE(returnToMark(*f.reader, ReaderMark{}));
}

}  // namespace
