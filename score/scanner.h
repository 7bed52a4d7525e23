// The pre-scan: reads the header line and measures the chord stream before
// any sample is written, holding no more of the score than one read block.
// (The second pass, which cuts the stream into chords, is parseChord's.)
#pragma once

#include <cstddef>
#include <cstdint>

#include "score/score_format.h"
#include "score/score_reader.h"

// What the pre-scan learns about a score.
struct ScoreStats {
  double noteDuration = 0.0;       // seconds of every chord
  std::int64_t chordCount = 0;     // bars in the chord stream
  std::int64_t maxChordNotes = 0;  // most note letters in a chord a bar ends
  std::int64_t maxKeptNotes = 0;   // most notes one chord keeps: the room Chord.notes needs
  std::int64_t letterTotal = 0;    // note letters in all chords
  std::int64_t noteTotal = 0;      // notes kept in all chords
  ReaderMark chordStream;          // where the chord stream starts
  // The file offset just after the last bar (the chord stream's start without one).
  std::int64_t lastBarEnd = 0;
  char headerText[scoreFormat::headerLineLimit];  // the header line as read
  std::size_t headerLength = 0;                   // characters in headerText
  bool barInHeader = false;                       // a bar stands on the header line
  // Note letters after the last bar (all of them without one), which no
  // chord plays, and the file offsets from the first to just after the last.
  std::int64_t trailingLetters = 0;
  std::int64_t trailingStart = 0;
  std::int64_t trailingEnd = 0;
};

// Reads the header line and pre-scans the chord stream. Returns false on a
// read error (reader.failed and reader.error tell more).
bool scanScore(ScoreReader& reader, ScoreStats& stats);
