// Constants of the score format: what the header line is, what ends a chord,
// which bytes are blanks and which letters are notes.
#pragma once

#include <cstddef>

namespace scoreFormat {

// The header line is read as at most this many characters, through its LF.
constexpr std::size_t headerLineLimit = 127;
constexpr unsigned char bar = '|';
constexpr unsigned char firstOctave = '0';  // the octave characters: '0'..'3'
constexpr int octaveCount = 4;
constexpr int pitchCount = 48;  // pitch indexes 0..47: 0d to 3t
static_assert(pitchCount == octaveCount * 12, "every octave has its twelve pitches");
constexpr unsigned char flat = 'b';
constexpr unsigned char sharp = '#';
constexpr int letterCount = 7;
constexpr char noteLetters[] = "drmfslt";  // the degree letters, lowest semitone first
constexpr unsigned char lowestLetter = noteLetters[0];
constexpr unsigned char highestLetter = noteLetters[letterCount - 1];

// Folds only A..Z to lower case; every other byte is kept, whatever the locale.
constexpr unsigned char foldCase(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

// True for the bytes the chord stream skips: tab, LF and space.
constexpr bool isBlank(unsigned char c) { return c == '\t' || c == '\n' || c == ' '; }

// Semitone offset of a (folded) degree letter, or -1 if it is not one.
constexpr int semitoneOffset(unsigned char letter) {
  switch (letter) {
    case 'd': return 0;
    case 'r': return 2;
    case 'm': return 4;
    case 'f': return 5;
    case 's': return 7;
    case 'l': return 9;
    case 't': return 11;
    default: return -1;
  }
}

static_assert(semitoneOffset(lowestLetter) == 0 && semitoneOffset(highestLetter) == 11,
              "the letters run from the octave's first semitone to its last");

}  // namespace scoreFormat
