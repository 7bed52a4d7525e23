// The note grammar of chord text, as the steps of an automaton over the
// classes of its characters: what both passes over a score walk.
#pragma once

#include <cstdint>

#include "score/score_format.h"

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
constexpr const char* letters = scoreFormat::noteLetters;

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
      if (folded >= scoreFormat::firstOctave &&
          folded < scoreFormat::firstOctave + scoreFormat::octaveCount) {
        charClass = octaveClass + folded - scoreFormat::firstOctave;
      }
      for (int letter = 0; letter < 7; ++letter) {
        if (folded == static_cast<unsigned char>(letters[letter])) charClass = letterClass + letter;
      }
      if (folded == scoreFormat::flat) charClass = flatClass;
      if (folded == scoreFormat::sharp) charClass = sharpClass;
      classOf[c] = static_cast<std::uint8_t>(charClass);
    }
  }
};

inline constexpr StepTable table;

inline bool isLetter(int charClass) { return charClass >= letterClass && charClass < flatClass; }

// Returns the semitone offset of a letter's class, as noteIndex counts it.
inline int semitoneOfClass(int charClass) {
  static constexpr std::int8_t semitones[] = {
      scoreFormat::semitoneOffset(letters[0]), scoreFormat::semitoneOffset(letters[1]),
      scoreFormat::semitoneOffset(letters[2]), scoreFormat::semitoneOffset(letters[3]),
      scoreFormat::semitoneOffset(letters[4]), scoreFormat::semitoneOffset(letters[5]),
      scoreFormat::semitoneOffset(letters[6])};
  return semitones[charClass - letterClass];
}

}  // namespace noteGrammar
