// Turns the text of a chord into pitch indexes as it streams past, one
// character at a time, so that no chord is ever held as text.
#pragma once

#include <cstddef>
#include <cstdint>

#include "score/chord.h"
#include "score/note_grammar.h"
#include "score/score_format.h"
#include "score/score_reader.h"
#include "score/skipped_run.h"
#include "score/text_scan.h"

// Where each finished run of skipped text goes; add may be null.
struct SkippedRunSink {
  void* context = nullptr;
  void (*add)(void* context, const SkippedRun& run) = nullptr;
};

// Where a chord's echo goes, a piece at a time: its text folded to lower
// case, without blanks and bar. write may be null.
struct EchoSink {
  void* context = nullptr;
  void (*write)(void* context, const char* text, std::size_t length) = nullptr;
};

// The parser's state within one chord.
struct ChordParser {
  Chord* chord = nullptr;  // receives the notes
  SkippedRunSink runs;
  // Where the chord stands in the file: from its first character (or its
  // bar, when it has none) to just after its bar.
  std::int64_t textStart = -1;
  std::int64_t textEnd = 0;
  TextPosition textPosition;
  std::int64_t notesKept = 0;  // notes found in this chord
  std::int64_t letters = 0;    // note letters in this chord, wherever they stand
  bool overflow = false;       // a note found no room left in chord->notes
  int state = noteGrammar::idle;
  std::int64_t waitingOffset[2] = {0, 0};  // file offsets of the waiting characters
  TextPosition waitingPosition[2];
  bool runOpen = false;
  SkippedRun run;       // the run being collected while runOpen
  textScan::Pace pace;  // of the tries at plain note text, from chord to chord
};

// Prepares the parser for a new chord.
void startChord(ChordParser& parser);

// Takes the next character of chord text (folded to lower case, not a blank
// or a bar), which stands at the file offset on the line that starts at
// lineStart. Inline: the second pass calls it for every character.
inline void parseChordChar(ChordParser& parser, unsigned char c, std::int64_t offset,
                           std::int64_t line, std::int64_t lineStart);

// Ends the chord: decides what still waits and closes the open run; the
// chord's noteCount is then final.
void finishChord(ChordParser& parser);

// Reads the next chord from reader through its bar: echoes its text (folded,
// without blanks) to echo and parses it. Returns false if the score ends, or
// a read fails, before the bar.
bool parseChord(ScoreReader& reader, ChordParser& parser, EchoSink echo);

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
  if (parser.notesKept == parser.chord->capacity) {
    parser.overflow = true;
    return;
  }
  parser.chord->notes[parser.notesKept] = static_cast<std::int16_t>(pitch);
  parser.chord->noteCount = ++parser.notesKept;
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

// Adds count one-byte characters from offset, at position, to the run of
// skipped text.
inline void skipChars(ChordParser& parser, std::int64_t offset, std::int64_t count,
                      const TextPosition& position) {
  if (!parser.runOpen) {
    parser.runOpen = true;
    parser.run = SkippedRun{offset, offset + count, position};
    return;
  }
  parser.run.end = offset + count;
}

// Carries out one step of the note grammar for the character at offset.
inline void takeStep(ChordParser& parser, noteGrammar::Step step, std::int64_t offset,
                     const TextPosition& position) {
  using namespace noteGrammar;
  if (step.skips & skipFirst) skipChar(parser, parser.waitingOffset[0], parser.waitingPosition[0]);
  if (step.skips & skipSecond) skipChar(parser, parser.waitingOffset[1], parser.waitingPosition[1]);
  if (step.note >= 0) keepNote(parser, step.note);
  if (step.skips & skipThis) skipChar(parser, offset, position);
  if (step.next != idle) {
    int slot = step.next >= firstPairState ? 1 : 0;  // the character now waiting
    parser.waitingOffset[slot] = offset;
    parser.waitingPosition[slot] = position;
  }
  parser.state = step.next;
}

}  // namespace chordParsing

inline void parseChordChar(ChordParser& parser, unsigned char c, std::int64_t offset,
                           std::int64_t line, std::int64_t lineStart) {
  int charClass = noteGrammar::table.classOf[c];
  parser.letters += noteGrammar::isLetter(charClass) ? 1 : 0;
  chordParsing::takeStep(parser, noteGrammar::table.steps[parser.state][charClass], offset,
                         TextPosition{line, offset - lineStart + 1});
}
