// Turns the text of a chord into pitch indexes as it streams past, one
// character at a time, so that no chord is ever held as text.
#pragma once

#include <cstddef>
#include <cstdint>

#include "score/chord.h"
#include "score/score_format.h"
#include "score/score_reader.h"
#include "score/skipped_run.h"

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

// Returns octave * 12 + the semitone offset of a degree letter.
constexpr std::int16_t noteIndex(std::int16_t octave, unsigned char letter) {
  return static_cast<std::int16_t>(octave * 12 + scoreFormat::semitoneOffset(letter));
}

// The note grammar, as steps of an automaton over the classes of chord
// characters. A note is an octave character 0..3, a degree letter and an
// optional "b" or "#", with a pitch index in 0..47; every other character
// of chord text is skipped, and consecutive skipped characters form a run.
// Up to two characters wait while it is not yet known whether they begin a
// note: the states are "nothing waits", "an octave waits" (one per octave)
// and "an octave and a letter wait" (one per pair).
namespace noteGrammar {

// Classes of the (folded) characters of chord text.
constexpr int octaveClass = 0;  // '0'..'3': 0..3
constexpr int letterClass = 4;  // the seven degree letters, d r m f s l t: 4..10
constexpr int flatClass = 11;
constexpr int sharpClass = 12;
constexpr int otherClass = 13;
constexpr int endClass = 14;  // the bar: the chord ends
constexpr int classCount = 15;
constexpr char letters[] = "drmfslt";

constexpr int idle = 0;
constexpr int firstOctaveState = 1;  // + octave
constexpr int firstPairState = 5;    // + octave * 7 + letter
constexpr int stateCount = firstPairState + scoreFormat::octaveCount * 7;

// What one character does: which characters it settles as skipped text (in
// this order: the first waiting one, the second, then itself), the note it
// completes (its pitch, or -1), and the state after it. A note is kept
// after the waiting characters are skipped and before the character itself.
constexpr std::uint8_t skipFirst = 1;
constexpr std::uint8_t skipSecond = 2;
constexpr std::uint8_t skipThis = 4;
struct Step {
  std::uint8_t next = idle;
  std::uint8_t skips = 0;
  std::int8_t note = -1;
};

// The pitch of the octave and letter that wait in a pair state.
constexpr int pitchOfPair(int state) {
  return noteIndex(static_cast<std::int16_t>((state - firstPairState) / 7),
                   static_cast<unsigned char>(letters[(state - firstPairState) % 7]));
}

// The step from a state with no character waiting.
constexpr Step fromIdle(int charClass) {
  Step step;
  if (charClass < letterClass) {
    step.next = static_cast<std::uint8_t>(firstOctaveState + charClass);
  } else {
    step.skips = skipThis;
  }
  return step;
}

// At the bar, a waiting octave is no note; a waiting octave and letter is.
constexpr Step atEnd(int state) {
  Step step;
  if (state >= firstPairState) step.note = static_cast<std::int8_t>(pitchOfPair(state));
  if (state != idle && state < firstPairState) step.skips = skipFirst;
  return step;
}

constexpr Step stepOf(int state, int charClass) {
  if (charClass == endClass) return atEnd(state);
  if (state == idle) return fromIdle(charClass);
  Step step;
  if (state < firstPairState) {  // an octave waits: a letter joins it
    int octave = state - firstOctaveState;
    if (charClass >= letterClass && charClass < flatClass) {
      step.next =
          static_cast<std::uint8_t>(firstPairState + octave * 7 + (charClass - letterClass));
      return step;
    }
    step = fromIdle(charClass);  // else the octave is no note, and c may begin one
    step.skips |= skipFirst;
    return step;
  }
  int pitch = pitchOfPair(state);
  if (charClass == flatClass || charClass == sharpClass) {
    int altered = pitch + (charClass == sharpClass ? 1 : -1);
    if (altered >= 0 && altered < scoreFormat::pitchCount) {
      step.note = static_cast<std::int8_t>(altered);
    } else {
      step.skips = skipFirst | skipSecond | skipThis;  // 0db, 3t#: outside the table
    }
    return step;
  }
  step = fromIdle(charClass);  // anything else ends the note and may begin the next
  step.note = static_cast<std::int8_t>(pitch);
  return step;
}

struct StepTable {
  Step steps[stateCount][classCount];
  // The class of every byte, once folded (blanks and the bar are not
  // chord characters: they get otherClass here, and are told apart first).
  std::uint8_t classOf[256];
  constexpr StepTable() : steps(), classOf() {
    for (int state = 0; state < stateCount; ++state) {
      for (int charClass = 0; charClass < classCount; ++charClass) {
        steps[state][charClass] = stepOf(state, charClass);
      }
    }
    for (int c = 0; c < 256; ++c) {
      unsigned char folded = scoreFormat::foldCase(static_cast<unsigned char>(c));
      int charClass = otherClass;
      if (folded >= '0' && folded < '0' + scoreFormat::octaveCount) charClass = folded - '0';
      for (int letter = 0; letter < 7; ++letter) {
        if (folded == static_cast<unsigned char>(letters[letter])) charClass = letterClass + letter;
      }
      if (folded == 'b') charClass = flatClass;
      if (folded == '#') charClass = sharpClass;
      classOf[c] = static_cast<std::uint8_t>(charClass);
    }
  }
};

inline constexpr StepTable table;

inline bool isLetter(int charClass) { return charClass >= letterClass && charClass < flatClass; }

}  // namespace noteGrammar

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
  SkippedRun run;  // the run being collected while runOpen
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
