#include "score/scanner.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "memory_streams.h"

namespace {

struct Scanned {
  ScoreStats stats;
  std::vector<std::string> chords;
  std::vector<ChordText> texts;
};

// Pre-scans score, returns to the chord stream and reads every chord.
Scanned scan(const std::string& score, std::size_t chunk = 1 << 20) {
  MemorySource memory;
  memory.bytes = score;
  memory.chunk = chunk;
  auto reader = std::make_unique<ScoreReader>();
  startReader(*reader, memorySource(memory));
  Scanned result;
  EXPECT_TRUE(scanScore(*reader, result.stats));
  EXPECT_TRUE(returnToMark(*reader, result.stats.chordStream));
  ChordText text;
  while (readChordText(*reader, text)) {
    result.chords.push_back(text.text);
    result.texts.push_back(text);
  }
  EXPECT_FALSE(reader->failed);
  return result;
}

TEST(Scanner, ExampleScore) {
  Scanned s = scan("0.5\n1d1m1s | 1r1f1l |\n2d |\n");
  EXPECT_EQ(s.stats.noteDuration, 0.5);
  EXPECT_EQ(s.stats.chordCount, 3);
  EXPECT_EQ(s.stats.maxChordNotes, 3);
  EXPECT_EQ(s.chords, (std::vector<std::string>{"1d1m1s", "1r1f1l", "2d"}));
}

TEST(Scanner, FoldsUpperCaseAndRemovesBlanks) {
  Scanned s = scan("1\r\n1D 1M\t|\r\n|1s|trailing 1d1m1s1l");
  EXPECT_EQ(s.chords, (std::vector<std::string>{"1d1m", "", "1s"}));
  EXPECT_EQ(s.stats.chordCount, 3);
  EXPECT_EQ(s.stats.maxChordNotes, 2);  // letters after the last bar count for nothing
}

TEST(Scanner, HeaderLettersAreNotChords) {
  Scanned s = scan("0.25 1d1m1s1f|\n1d|");
  EXPECT_EQ(s.stats.noteDuration, 0.25);
  EXPECT_EQ(s.chords, (std::vector<std::string>{"1d"}));
  EXPECT_EQ(s.stats.maxChordNotes, 1);
}

TEST(Scanner, LongHeaderLineSpillsIntoTheChordStream) {
  std::string header = "2" + std::string(126, ' ');  // exactly 127 characters
  Scanned s = scan(header + "1d|2d|\n3d|");
  EXPECT_EQ(s.stats.noteDuration, 2.0);
  EXPECT_EQ(s.chords, (std::vector<std::string>{"1d", "2d", "3d"}));
  // The LF that ends a 127-character line is chord stream too: a blank.
  Scanned t = scan(header + "\n1d|");
  EXPECT_EQ(t.chords, (std::vector<std::string>{"1d"}));
}

TEST(Scanner, CrOnlyLineEndsKeepCrsAsChordText) {
  Scanned s = scan("0.5\r1d|\r2d|\r" + std::string(200, ' ') + "\r3d|", 7);
  EXPECT_EQ(s.stats.noteDuration, 0.5);
  // The first 127 characters are the header line, with its chords.
  EXPECT_EQ(s.chords, (std::vector<std::string>{"\r3d"}));
}

TEST(Scanner, CrLfStraddlingReadsIsOneBlank) {
  Scanned s = scan("1\r\n1d\r\n1m|", 1);
  EXPECT_EQ(s.chords, (std::vector<std::string>{"1d1m"}));
}

TEST(Scanner, EmptyAndBarlessScores) {
  Scanned empty = scan("");
  EXPECT_EQ(empty.stats.noteDuration, 0.0);
  EXPECT_EQ(empty.stats.chordCount, 0);
  EXPECT_TRUE(empty.chords.empty());
  Scanned barless = scan("0.5\n1d1m1s");
  EXPECT_EQ(barless.stats.chordCount, 0);
  EXPECT_EQ(barless.stats.maxChordNotes, 0);
  EXPECT_TRUE(barless.chords.empty());
}

TEST(Scanner, LongChordIsKeptWhole) {
  std::string chord;
  for (int i = 0; i < 5000; ++i) chord += "1d";
  Scanned s = scan("1\n" + chord + "|");
  ASSERT_EQ(s.chords.size(), 1u);
  EXPECT_EQ(s.chords[0], chord);
  EXPECT_EQ(s.stats.maxChordNotes, 5000);
}

TEST(Scanner, PositionsOfChordTextSurviveBlanksAndLineBreaks) {
  Scanned s = scan("1\n|  1d 1x\r\n\t2y|");
  ASSERT_EQ(s.texts.size(), 2u);
  const ChordText& text = s.texts[1];
  ASSERT_EQ(text.text, "1d1x2y");
  auto at = [&](std::size_t i) {
    TextPosition p = positionOf(text, i);
    return std::to_string(p.line) + ":" + std::to_string(p.column);
  };
  EXPECT_EQ(at(0), "2:4");
  EXPECT_EQ(at(1), "2:5");
  EXPECT_EQ(at(2), "2:7");
  EXPECT_EQ(at(3), "2:8");
  EXPECT_EQ(at(4), "3:2");
  EXPECT_EQ(at(5), "3:3");
}

TEST(Scanner, ReadErrorInPreScanIsReported) {
  MemorySource memory;
  memory.bytes = "1\n1d|1d|";
  memory.chunk = 3;
  memory.failAfterReads = 2;
  auto reader = std::make_unique<ScoreReader>();
  startReader(*reader, memorySource(memory));
  ScoreStats stats;
  EXPECT_FALSE(scanScore(*reader, stats));
}

}  // namespace
