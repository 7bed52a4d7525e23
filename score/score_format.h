// Constants of the score format: what the header line is, what ends a chord,
// which bytes are blanks and which letters are notes.
#pragma once

#include <cstddef>

namespace scoreFormat {

// The header line is read as at most this many characters, through its LF.
constexpr std::size_t headerLineLimit = 127;
constexpr unsigned char bar = '|';
constexpr int octaveCount = 4;  // octave characters '0'..'3'
constexpr int pitchCount = 48;  // pitch indexes 0..47

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

constexpr bool isNoteLetter(unsigned char c) { return semitoneOffset(c) >= 0; }

}  // namespace scoreFormat
