// The two passes over a score: the pre-scan, which measures it before any
// sample is written, and the second pass, which cuts it into chords.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "score/score_reader.h"

// What the pre-scan learns about a score.
struct ScoreStats {
  double noteDuration = 0.0;       // seconds of every chord
  std::int64_t chordCount = 0;     // bars in the chord stream
  std::int64_t maxChordNotes = 0;  // most note letters in a chord a bar ends
  ReaderMark chordStream;          // where the chord stream starts
};

// Where a stretch of chord text stands in the file: text[textIndex] onwards
// lies on one line, column after column, until the next stretch.
struct TextStretch {
  std::size_t textIndex = 0;
  TextPosition position;
};

// The text of one chord: its characters folded to lower case, blanks removed,
// bar left out, and where they stand in the file.
struct ChordText {
  std::string text;
  std::vector<TextStretch> stretches;
};

// Reads the header line and pre-scans the chord stream. Returns false on a
// read error; the reader is then left at the end.
bool scanScore(ScoreReader& reader, ScoreStats& stats);

// Reads the next chord, the text up to and without its bar. Returns false at
// the end of the score (text after the last bar is no chord) or on a read
// error (reader.failed).
bool readChordText(ScoreReader& reader, ChordText& chord);

// Returns the place in the file of chord.text[textIndex].
TextPosition positionOf(const ChordText& chord, std::size_t textIndex);
