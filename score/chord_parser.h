// Turns the text of a chord into pitch indexes as it streams past, one
// character at a time, so that no chord is ever held as text.
#pragma once

#include <cstddef>
#include <cstdint>

#include "score/chord.h"
#include "score/score_format.h"
#include "score/score_reader.h"
#include "score/text_output.h"

// A run of chord text that holds no note, and where it stands in the file.
struct SkippedRun {
  std::int64_t start = 0;  // file offset of its first character
  std::int64_t end = 0;    // file offset just after its last character
  TextPosition position;   // line and column of its first character
};

// Where each finished run of skipped text goes; add may be null.
struct SkippedRunSink {
  void* context = nullptr;
  void (*add)(void* context, const SkippedRun& run) = nullptr;
};

// The parser's state within one chord. A note is an octave character 0..3,
// a degree letter and an optional "b" or "#", with a pitch index in 0..47;
// every other character of chord text is skipped, and consecutive skipped
// characters form one run. Up to two characters wait while it is not yet
// known whether they begin a note.
struct ChordParser {
  Chord* chord = nullptr;  // receives the notes; null to count them only
  SkippedRunSink runs;
  std::int64_t notesKept = 0;  // notes found in this chord
  std::int64_t letters = 0;    // note letters in this chord, wherever they stand
  bool overflow = false;       // a note found no room left in chord->notes
  unsigned char waiting[2] = {0, 0};
  std::int64_t waitingOffset[2] = {0, 0};
  TextPosition waitingPosition[2];
  int waitingCount = 0;
  bool runOpen = false;
  SkippedRun run;  // the run being collected while runOpen
};

// Returns octave * 12 + the semitone offset of a degree letter.
inline std::int16_t noteIndex(std::int16_t octave, unsigned char letter) {
  return static_cast<std::int16_t>(octave * 12 + scoreFormat::semitoneOffset(letter));
}

// Prepares the parser for a new chord.
void startChord(ChordParser& parser);

// Takes the next character of chord text (folded to lower case, not a blank
// or a bar), which stands at the file offset on the line that starts at
// lineStart. Inline: both passes call it for every character.
inline void parseChordChar(ChordParser& parser, unsigned char c, std::int64_t offset,
                           std::int64_t line, std::int64_t lineStart);

// Ends the chord: decides what still waits and closes the open run; the
// chord's noteCount is then final.
void finishChord(ChordParser& parser);

// Reads the next chord from reader through its bar: echoes its text (folded,
// without blanks) as one line on echo and parses it. Returns false if the
// score ends, or a read fails, before the bar (a line begun is still ended).
bool parseChord(ScoreReader& reader, ChordParser& parser, TextOutput& echo);

namespace chordParsing {

// Hands a finished run on (out of line: it is rare).
void passRunOn(const SkippedRunSink& runs, const SkippedRun& run);

inline void closeRun(ChordParser& parser) {
  if (parser.runOpen) passRunOn(parser.runs, parser.run);
  parser.runOpen = false;
}

// Stores a note, closing the run of skipped text before it.
inline void keepNote(ChordParser& parser, int pitch) {
  closeRun(parser);
  if (parser.chord != nullptr) {
    if (parser.notesKept == parser.chord->capacity) {
      parser.overflow = true;
      return;
    }
    parser.chord->notes[parser.notesKept] = static_cast<std::int16_t>(pitch);
    parser.chord->noteCount = parser.notesKept + 1;
  }
  ++parser.notesKept;
}

// Adds the one-byte character at offset to the run of skipped text.
inline void skipChar(ChordParser& parser, std::int64_t offset, const TextPosition& position) {
  if (parser.runOpen) {
    parser.run.end = offset + 1;
    return;
  }
  parser.runOpen = true;
  parser.run = SkippedRun{offset, offset + 1, position};
}

inline void skipWaiting(ChordParser& parser, int index) {
  skipChar(parser, parser.waitingOffset[index], parser.waitingPosition[index]);
}

// A character that no waiting one precedes: it may begin a note.
inline void beginToken(ChordParser& parser, unsigned char c, std::int64_t offset,
                       const TextPosition& position) {
  if (c < '0' || c >= '0' + scoreFormat::octaveCount) {
    skipChar(parser, offset, position);
    return;
  }
  parser.waiting[0] = c;
  parser.waitingOffset[0] = offset;
  parser.waitingPosition[0] = position;
  parser.waitingCount = 1;
}

// The pitch of the waiting octave and letter.
inline int waitingPitch(const ChordParser& parser) {
  return noteIndex(static_cast<std::int16_t>(parser.waiting[0] - '0'), parser.waiting[1]);
}

// After an octave and a letter, c decides: an accidental joins the note
// (unless it leaves the table: then all three are skipped text); anything
// else ends the note and may begin the next.
inline void afterLetter(ChordParser& parser, unsigned char c, std::int64_t offset,
                        const TextPosition& position) {
  int pitch = waitingPitch(parser);
  parser.waitingCount = 0;
  if (c != 'b' && c != '#') {
    keepNote(parser, pitch);
    beginToken(parser, c, offset, position);
    return;
  }
  pitch += c == '#' ? 1 : -1;
  if (pitch >= 0 && pitch < scoreFormat::pitchCount) {
    keepNote(parser, pitch);
    return;
  }
  skipWaiting(parser, 0);
  skipWaiting(parser, 1);
  skipChar(parser, offset, position);
}

}  // namespace chordParsing

inline void parseChordChar(ChordParser& parser, unsigned char c, std::int64_t offset,
                           std::int64_t line, std::int64_t lineStart) {
  using namespace chordParsing;
  bool letter = scoreFormat::isNoteLetter(c);
  parser.letters += letter ? 1 : 0;
  TextPosition position{line, offset - lineStart + 1};
  if (parser.waitingCount == 0) {
    beginToken(parser, c, offset, position);
  } else if (parser.waitingCount == 2) {
    afterLetter(parser, c, offset, position);
  } else if (letter) {
    parser.waiting[1] = c;
    parser.waitingOffset[1] = offset;
    parser.waitingPosition[1] = position;
    parser.waitingCount = 2;
  } else {
    // An octave without a letter is no note; c may begin one.
    skipWaiting(parser, 0);
    parser.waitingCount = 0;
    beginToken(parser, c, offset, position);
  }
}
