// The pre-scan's parts that its kernels' steps share (scanner.cpp and
// scanner_avx2.cpp): what it counts of a chord, and the wide steps the
// AVX2 kernel takes. Not for use outside score/.
#pragma once

#include <algorithm>
#include <cstdint>

#include "score/note_grammar.h"
#include "score/scanner.h"
#include "score/score_reader.h"
#include "score/text_scan.h"

// What the pre-scan counts in the chord being read.
struct ChordCount {
  int state = noteGrammar::idle;  // of the note grammar
  std::int64_t letters = 0;
  std::int64_t notes = 0;
  std::int64_t firstLetter = 0;  // file offsets of its first and last note letters
  std::int64_t lastLetter = 0;
};

// Counts the note letters whose bits are set, in a window of W bytes at
// offset, and returns how many there are.
template <std::size_t W>
inline unsigned countLetters(ChordCount& chord, unsigned bits, std::int64_t offset) {
  if (bits == 0) return 0;
  if (chord.letters == 0) chord.firstLetter = offset + textScan::lowestBit(bits);
  chord.lastLetter = offset + textScan::highestBit(bits);
  unsigned count = textScan::bitCount<W>(bits);
  chord.letters += count;
  return count;
}

// Counts the chord a bar at barEnd - 1 has just ended.
inline void countChord(ScoreStats& stats, ChordCount& chord, std::int64_t barEnd) {
  chord.notes += noteGrammar::table.steps[chord.state][noteGrammar::endClass].note >= 0 ? 1 : 0;
  stats.maxChordNotes = std::max(stats.maxChordNotes, chord.letters);
  stats.maxKeptNotes = std::max(stats.maxKeptNotes, chord.notes);
  stats.letterTotal += chord.letters;
  stats.noteTotal += chord.notes;
  ++stats.chordCount;
  stats.lastBarEnd = barEnd;
  chord = ChordCount{};
}

// Counts the plain note text of length bytes at offset, in a window of W
// bytes, chord by chord at its bars. The chords that begin and end within
// the window hold whole tokens and nothing else: every letter of theirs is
// a note, and they are only counted.
template <std::size_t W>
void countTokens(ScoreStats& stats, ChordCount& chord, const textScan::Masks& m, unsigned length,
                 std::int64_t offset) {
  using namespace textScan;
  unsigned bars = m.bar & below(length);
  unsigned from = 0;
  if (bars != 0) {  // the chord the window began in ends
    unsigned bar = lowestBit(bars);
    chord.notes += countLetters<W>(chord, m.letter & below(bar), offset);
    countChord(stats, chord, offset + bar + 1);
    from = bar + 1;
    bars &= bars - 1;
  }
  if (bars != 0) {
    unsigned start = from;  // of the first whole chord
    unsigned most = 0;
    for (; bars != 0; bars &= bars - 1) {
      unsigned bar = lowestBit(bars);
      unsigned count = bitCount<W>(m.letter & below(bar) & ~below(from));
      most = count > most ? count : most;
      from = bar + 1;
      ++stats.chordCount;
    }
    std::int64_t letters = bitCount<W>(m.letter & below(from) & ~below(start));
    stats.maxChordNotes = std::max<std::int64_t>(stats.maxChordNotes, most);
    stats.maxKeptNotes = std::max<std::int64_t>(stats.maxKeptNotes, most);
    stats.letterTotal += letters;
    stats.noteTotal += letters;
    stats.lastBarEnd = offset + from;
  }
  chord.notes += countLetters<W>(chord, m.letter & below(length) & ~below(from), offset);
}

// Counts skipped text from the cursor on, a wide window at a time, up to
// the first octave that may begin a note or bar; returns true if it took any.
bool countSkippedWide(ScoreCursor& cursor, ChordCount& chord);

// Counts wide windows from the cursor on while each is plain note text from
// its first byte, as countPlainWindows does; returns true if it took any.
bool countPlainWide(ScoreCursor& cursor, ScoreStats& stats, ChordCount& chord);
