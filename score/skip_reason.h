// Why a run of chord text holds no note, told from its first characters,
// so that a warning can say what a musician should write instead.
#pragma once

#include <cstddef>
#include <cstdint>

enum class SkipReason {
  notANote,          // bytes that begin no note
  octaveOutOfRange,  // an octave digit 4..9 before a note letter ("4d")
  noNoteLetter,      // an octave digit, then no note letter ("1x", "2")
  pitchOutOfRange,   // a note below 0d or above 3t ("0db", "3t#")
  noOctave,          // a note letter with no octave digit before it ("d")
  letterName,        // a letter name, A to G, maybe # or b, then a digit ("C4")
  typographicSharp,  // the sharp sign U+266F, where "#" is meant
  typographicFlat,   // the flat sign U+266D, where "b" is meant
  fullWidth,         // a full-width digit or letter ("２ｄ"), as East Asian keyboards type
  unicodeBlank,      // a blank that is no space or tab, such as the no-break space
};

struct SkipExplanation {
  SkipReason reason = SkipReason::notANote;
  unsigned char octave = 0;     // octaveOutOfRange: the octave digit
  std::uint32_t codePoint = 0;  // unicodeBlank: which blank
};

// Explains a run of skipped text from the score's own bytes (not folded;
// blanks and line ends may stand between its characters).
SkipExplanation explainSkipped(const unsigned char* bytes, std::size_t length);
