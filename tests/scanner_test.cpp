#include "score/scanner.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "memory_streams.h"
#include "score/chord_parser.h"

namespace {

struct Scanned {
  ScoreStats stats;
  std::string echo;                   // the second pass's echo lines
  std::vector<SkippedRun> runs;       // its skipped runs
  std::int64_t letters = 0;           // its note letters
  std::int64_t notes = 0;             // and notes kept
  std::vector<std::int16_t> pitches;  // every note kept, chord after chord
  std::vector<std::int64_t> places;   // each chord's first character: offset, line, column
};

void collectRun(void* context, const SkippedRun& run) {
  static_cast<Scanned*>(context)->runs.push_back(run);
}

void appendEcho(void* context, const char* text, std::size_t length) {
  static_cast<std::string*>(context)->append(text, length);
}

// Pre-scans score, returns to the chord stream and parses every chord the
// pre-scan counted, as the conversion does (with or without the stretches
// taken many bytes at a time, and with the kernel given).
Scanned scan(const std::string& score, std::size_t chunk = 1 << 20, bool fastPaths = true,
             TextKernel kernel = chosenTextKernel()) {
  MemorySource memory;
  memory.bytes = score;
  memory.chunk = chunk;
  auto reader = std::make_unique<ScoreReader>();
  reader->fastPaths = fastPaths;
  reader->kernel = kernel;
  startReader(*reader, memorySource(memory));
  Scanned result;
  EXPECT_TRUE(scanScore(*reader, result.stats));
  EXPECT_TRUE(returnToMark(*reader, result.stats.chordStream));
  std::vector<std::int16_t> notes(static_cast<std::size_t>(result.stats.maxKeptNotes));
  Chord chord = chordOf(notes);
  ChordParser parser;
  parser.chord = &chord;
  parser.runs = SkippedRunSink{&result, collectRun};
  EchoSink echo{&result.echo, appendEcho};
  for (std::int64_t i = 0; i < result.stats.chordCount; ++i) {
    EXPECT_TRUE(parseChord(*reader, parser, echo));
    result.echo += '\n';
    EXPECT_FALSE(parser.overflow);
    result.letters += parser.letters;
    result.notes += parser.notesKept;
    result.pitches.insert(result.pitches.end(), chord.notes, chord.notes + chord.noteCount);
    result.places.insert(
        result.places.end(),
        {parser.textStart, parser.textEnd, parser.textPosition.line, parser.textPosition.column});
  }
  EXPECT_EQ(readerOffset(*reader), result.stats.lastBarEnd);
  EXPECT_FALSE(reader->failed);
  return result;
}

TEST(Scanner, ExampleScore) {
  Scanned s = scan("0.5\n1d1m1s | 1r1f1l |\n2d |\n");
  EXPECT_EQ(s.stats.noteDuration, 0.5);
  EXPECT_EQ(s.stats.chordCount, 3);
  EXPECT_EQ(s.stats.maxChordNotes, 3);
  EXPECT_EQ(s.stats.maxKeptNotes, 3);
  EXPECT_EQ(s.echo, "1d1m1s\n1r1f1l\n2d\n");
}

TEST(Scanner, FoldsUpperCaseAndRemovesBlanks) {
  Scanned s = scan("1\r\n1D 1M\t|\r\n|1s|trailing 1d1m1s1l");
  EXPECT_EQ(s.echo, "1d1m\n\n1s\n");
  EXPECT_EQ(s.stats.chordCount, 3);
  EXPECT_EQ(s.stats.maxChordNotes, 2);  // letters after the last bar count for nothing
}

TEST(Scanner, LettersAndKeptNotesAreCountedApart) {
  // Three letters make the chord as loud as three notes; one note is kept.
  Scanned s = scan("1\n1ddd|1d1m|");
  EXPECT_EQ(s.stats.maxChordNotes, 3);
  EXPECT_EQ(s.stats.maxKeptNotes, 2);
  EXPECT_EQ(s.stats.letterTotal, 5);
  EXPECT_EQ(s.stats.noteTotal, 3);
}

TEST(Scanner, HeaderLettersAreNotChords) {
  Scanned s = scan("0.25 1d1m1s1f|\n1d|");
  EXPECT_EQ(s.stats.noteDuration, 0.25);
  EXPECT_EQ(s.echo, "1d\n");
  EXPECT_EQ(s.stats.maxChordNotes, 1);
  EXPECT_EQ(std::string(s.stats.headerText, s.stats.headerLength), "0.25 1d1m1s1f|\n");
}

TEST(Scanner, LongHeaderLineSpillsIntoTheChordStream) {
  std::string header = "2" + std::string(126, ' ');  // exactly 127 characters
  Scanned s = scan(header + "1d|2d|\n3d|");
  EXPECT_EQ(s.stats.noteDuration, 2.0);
  EXPECT_EQ(s.echo, "1d\n2d\n3d\n");
  // The LF that ends a 127-character line is chord stream too: a blank.
  Scanned t = scan(header + "\n1d|");
  EXPECT_EQ(t.echo, "1d\n");
}

TEST(Scanner, CrOnlyLineEndsKeepCrsAsChordText) {
  Scanned s = scan("0.5\r1d|\r2d|\r" + std::string(200, ' ') + "\r3d|", 7);
  EXPECT_EQ(s.stats.noteDuration, 0.5);
  // The first 127 characters are the header line, with its chords.
  EXPECT_EQ(s.echo, "\r3d\n");
}

TEST(Scanner, BlanksAndCrLfInsideANoteButNotALoneCr) {
  Scanned s = scan("1\r\n1\r\nd 1\td|1\rd|", 1);
  EXPECT_EQ(s.echo, "1d1d\n1\rd\n");
  EXPECT_EQ(s.stats.noteTotal, 2);
  EXPECT_EQ(s.stats.maxKeptNotes, 2);
}

TEST(Scanner, EmptyAndBarlessScores) {
  Scanned empty = scan("");
  EXPECT_EQ(empty.stats.noteDuration, 0.0);
  EXPECT_EQ(empty.stats.chordCount, 0);
  EXPECT_TRUE(empty.echo.empty());
  Scanned barless = scan("0.5\n1d1m1s");
  EXPECT_EQ(barless.stats.chordCount, 0);
  EXPECT_EQ(barless.stats.maxChordNotes, 0);
  EXPECT_TRUE(barless.echo.empty());
}

TEST(Scanner, LongChordStreamsPastWhole) {
  std::string chord;
  for (int i = 0; i < 50000; ++i) chord += i % 2 ? "1d " : "2m";
  Scanned s = scan("1\n" + chord + "|", 4096);
  std::string expected;
  for (int i = 0; i < 50000; ++i) expected += i % 2 ? "1d" : "2m";
  EXPECT_EQ(s.echo, expected + "\n");
  EXPECT_EQ(s.stats.maxKeptNotes, 50000);
}

TEST(Scanner, SkippedRunsKnowWhereTheyStandInTheFile) {
  std::string score = "1\n|  1d 1x\r\n\t2y| Q|";
  Scanned s = scan(score);
  ASSERT_EQ(s.runs.size(), 2u);
  EXPECT_EQ(s.runs[0].position.line, 2);
  EXPECT_EQ(s.runs[0].position.column, 7);
  // From its first skipped character to its last, blanks and CR LF included.
  EXPECT_EQ(score.substr(static_cast<std::size_t>(s.runs[0].start),
                         static_cast<std::size_t>(s.runs[0].end - s.runs[0].start)),
            "1x\r\n\t2y");
  EXPECT_EQ(s.runs[1].position.line, 3);
  EXPECT_EQ(s.runs[1].position.column, 6);
}

TEST(Scanner, PreScanCountsWhatTheSecondPassParses) {
  // The pre-scan skips bytes that cannot matter while nothing waits; on
  // random scores it must still count exactly the notes the parser keeps.
  std::mt19937 random(42);
  const std::string alphabet = "0123drmfsltDRMFSLTb#|| \t\n\r\r\nxX\x1A";
  for (int round = 0; round < 300; ++round) {
    std::string score = "1\n";
    std::size_t length = random() % 300;
    for (std::size_t i = 0; i < length; ++i) {
      score += alphabet[random() % alphabet.size()];
      if (random() % 16 == 0) score += std::string(random() % 40, '\0');
    }
    Scanned s = scan(score, 1 + random() % 64);
    EXPECT_EQ(s.stats.letterTotal, s.letters) << round;
    EXPECT_EQ(s.stats.noteTotal, s.notes) << round;
  }
}

// Chord text that mixes plain tokens with every kind of break the fast
// paths must leave to the step table, in any case, at any alignment; a
// bar after about one piece in barEvery (0: only the bars among the breaks),
// a break instead of a token about one time in breakEvery.
std::string mixedChordText(std::mt19937& random, std::size_t pieces, unsigned barEvery = 0,
                           unsigned breakEvery = 6) {
  const char* tokens[] = {"2d", "1m", "0t#", "3sb", "1F", "2L#", "0Db", "3T", "1r ", "2s\n"};
  const std::string breaks[] = {" b",
                                "\t#",
                                "0db",
                                "3t#",
                                "\r\n",
                                "\r",
                                std::string(1, '\0'),
                                "\xE9",
                                "\xFF"
                                "2d",
                                "x",
                                "|",
                                "||",
                                "2 d",
                                "22d",
                                "4d",
                                "9",
                                "dd",
                                "1",
                                "B",
                                "\n\n",
                                "    ",
                                "Tempo",
                                "DoReMiFaSoLaTi-DoReMiFaSoLaTi-DoReMiFaSoLaTi-",
                                "Allegro con brio, ma non troppo;\n dolce e\tcantabile. "};
  std::string text(random() % 16, ' ');  // any alignment of the windows
  for (std::size_t i = 0; i < pieces; ++i) {
    if (random() % breakEvery == 0) {
      text += breaks[random() % (sizeof breaks / sizeof *breaks)];
    } else {
      text += tokens[random() % (sizeof tokens / sizeof *tokens)];
      if (random() % 3 == 0) text += ' ';
    }
    if (barEvery > 0 && random() % barEvery == 0) text += '|';
  }
  return text;
}

// Each kernel, by name, against the step table; one the processor or the
// build lacks is reported skipped.
class EveryKernel : public testing::TestWithParam<TextKernel> {};

TEST_P(EveryKernel, StretchesTakenAtOnceMatchTheStepTable) {
  const TextKernel kernel = GetParam();
  if (!textKernelAvailable(kernel)) {
    GTEST_SKIP() << "the " << textKernelName(kernel) << " kernel is not in this build or processor";
  }
  std::mt19937 random(18);
  for (int round = 0; round < 400; ++round) {
    unsigned barEvery = round % 2 == 0 ? 0 : 1 + random() % 4;  // short chords, taken whole
    unsigned breakEvery = round % 3 == 0 ? 60 : 6;              // long plain runs: wide windows
    std::string score =
        "0.001\n" + mixedChordText(random, 20 + random() % 400, barEvery, breakEvery);
    std::size_t chunk = round % 4 == 0 ? 1u << 20 : 1 + random() % 97;  // CR LF across reads too
    Scanned table = scan(score, chunk, false);
    {
      Scanned fast = scan(score, chunk, true, kernel);
      ASSERT_EQ(fast.echo, table.echo) << round;
      ASSERT_EQ(fast.pitches, table.pitches) << round;
      ASSERT_EQ(fast.places, table.places) << round;
      ASSERT_EQ(fast.runs.size(), table.runs.size()) << round;
      for (std::size_t i = 0; i < fast.runs.size(); ++i) {
        const SkippedRun& a = fast.runs[i];
        const SkippedRun& b = table.runs[i];
        ASSERT_EQ(std::make_tuple(a.start, a.end, a.position.line, a.position.column),
                  std::make_tuple(b.start, b.end, b.position.line, b.position.column))
            << round << " run " << i;
      }
      const ScoreStats& x = fast.stats;
      const ScoreStats& y = table.stats;
      ASSERT_EQ(std::make_tuple(x.chordCount, x.maxChordNotes, x.maxKeptNotes, x.letterTotal,
                                x.noteTotal, x.lastBarEnd, x.trailingLetters),
                std::make_tuple(y.chordCount, y.maxChordNotes, y.maxKeptNotes, y.letterTotal,
                                y.noteTotal, y.lastBarEnd, y.trailingLetters))
          << round;
      if (x.trailingLetters > 0) {
        ASSERT_EQ(std::make_pair(x.trailingStart, x.trailingEnd),
                  std::make_pair(y.trailingStart, y.trailingEnd))
            << round;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Scanner, EveryKernel, testing::ValuesIn(allTextKernels),
                         [](const testing::TestParamInfo<TextKernel>& each) {
                           return std::string(textKernelName(each.param));
                         });

TEST(Scanner, ReadErrorInPreScanIsReported) {
  MemorySource memory;
  memory.bytes = "1\n1d|1d|";
  memory.chunk = 3;
  memory.failAfterReads = 2;
  auto reader = std::make_unique<ScoreReader>();
  startReader(*reader, memorySource(memory));
  ScoreStats stats;
  EXPECT_FALSE(scanScore(*reader, stats));
  EXPECT_EQ(reader->error, EIO);
}

}  // namespace
