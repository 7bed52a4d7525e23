#include "score/chord_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "memory_streams.h"

namespace {

struct Parsed {
  std::vector<int> notes;
  std::vector<std::string> skipped;
  bool overflow = false;
};

void collectRun(void* context, const SkippedRun& run) {
  static_cast<std::vector<SkippedRun>*>(context)->push_back(run);
}

// Parses text one character at a time, as the second pass hands it over,
// with a notes array of capacity entries.
Parsed parse(const std::string& text, std::size_t capacity = 16) {
  std::vector<std::int16_t> notes(capacity, -99);
  Chord chord = chordOf(notes);
  std::vector<SkippedRun> runs;
  ChordParser parser;
  parser.chord = &chord;
  parser.runs = SkippedRunSink{&runs, collectRun};
  startChord(parser);
  for (std::size_t i = 0; i < text.size(); ++i) {
    parseChordChar(parser, static_cast<unsigned char>(text[i]), static_cast<std::int64_t>(i), 1, 0);
  }
  finishChord(parser);
  Parsed result;
  for (std::int64_t i = 0; i < chord.noteCount; ++i) result.notes.push_back(chord.notes[i]);
  for (const SkippedRun& run : runs) {
    result.skipped.push_back(text.substr(static_cast<std::size_t>(run.start),
                                         static_cast<std::size_t>(run.end - run.start)));
    EXPECT_EQ(run.position.column, run.start + 1);
  }
  result.overflow = parser.overflow;
  return result;
}

using Notes = std::vector<int>;
using Texts = std::vector<std::string>;

TEST(ChordParser, WellFormedTokens) {
  EXPECT_EQ(parse("1d1m1s").notes, (Notes{12, 16, 19}));
  EXPECT_EQ(parse("2d").notes, (Notes{24}));
  EXPECT_EQ(parse("0d").notes, (Notes{0}));
  EXPECT_EQ(parse("3t").notes, (Notes{47}));
  EXPECT_EQ(parse("0t#").notes, (Notes{12}));
  EXPECT_EQ(parse("1db").notes, (Notes{11}));
  EXPECT_EQ(parse("0r0m0f0s0l").notes, (Notes{2, 4, 5, 7, 9}));
  EXPECT_TRUE(parse("").notes.empty());
  EXPECT_TRUE(parse("").skipped.empty());
}

TEST(ChordParser, SkipsWhatIsNoNoteInRuns) {
  Parsed p = parse("1x2d");
  EXPECT_EQ(p.notes, (Notes{24}));
  EXPECT_EQ(p.skipped, (Texts{"1x"}));

  p = parse("1ddd");  // three letters, one note
  EXPECT_EQ(p.notes, (Notes{12}));
  EXPECT_EQ(p.skipped, (Texts{"dd"}));

  p = parse("4d1m9s1");  // octaves beyond 3; a lone octave at the end
  EXPECT_EQ(p.notes, (Notes{16}));
  EXPECT_EQ(p.skipped, (Texts{"4d", "9s1"}));

  p = parse("\r1d\x01");
  EXPECT_EQ(p.notes, (Notes{12}));
  EXPECT_EQ(p.skipped, (Texts{"\r", "\x01"}));
}

TEST(ChordParser, PitchesOutsideTheTableAreSkipped) {
  Parsed p = parse("0db1d");
  EXPECT_EQ(p.notes, (Notes{12}));
  EXPECT_EQ(p.skipped, (Texts{"0db"}));
  p = parse("3t#3tb");
  EXPECT_EQ(p.notes, (Notes{46}));
  EXPECT_EQ(p.skipped, (Texts{"3t#"}));
}

TEST(ChordParser, NeverWritesPastTheNotesArray) {
  // The array is sized by the pre-scan; a chord with more notes can only
  // come from a score that changed meanwhile, and says so.
  Parsed p = parse("1d1m", 2);
  EXPECT_EQ(p.notes, (Notes{12, 16}));
  EXPECT_FALSE(p.overflow);
  Parsed more = parse("1d1m1s", 2);
  EXPECT_EQ(more.notes, (Notes{12, 16}));
  EXPECT_TRUE(more.overflow);
  Parsed none = parse("1d", 0);
  EXPECT_TRUE(none.notes.empty());
  EXPECT_TRUE(none.overflow);
}

TEST(ChordParser, AWaitingOctaveOrLetterIsDecidedByTheNextCharacter) {
  Parsed p = parse("12d");  // "1" is no note; "2d" is
  EXPECT_EQ(p.notes, (Notes{24}));
  EXPECT_EQ(p.skipped, (Texts{"1"}));
  p = parse("1d#2d");  // a sharp after the letter belongs to the note
  EXPECT_EQ(p.notes, (Notes{13, 24}));
  p = parse("1d1");  // a lone octave at the end
  EXPECT_EQ(p.notes, (Notes{12}));
  EXPECT_EQ(p.skipped, (Texts{"1"}));
}

TEST(ChordParser, NoteIndexIsOctaveTimesTwelvePlusOffset) {
  EXPECT_EQ(noteIndex(0, 'd'), 0);
  EXPECT_EQ(noteIndex(1, 'r'), 14);
  EXPECT_EQ(noteIndex(2, 'f'), 29);
  EXPECT_EQ(noteIndex(3, 'l'), 45);
}

}  // namespace
