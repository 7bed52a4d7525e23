#include "score/skip_reason.h"

#include "score/note_grammar.h"
#include "score/score_format.h"

namespace {

bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }

// The note grammar's own classes of a folded character.
bool isOctave(unsigned char c) { return noteGrammar::table.classOf[c] < noteGrammar::letterClass; }
bool isNoteLetter(unsigned char c) { return noteGrammar::isLetter(noteGrammar::table.classOf[c]); }

// Returns the code point of the valid UTF-8 sequence of two or three bytes
// at bytes, or 0 for anything else (the characters explained here are all
// in the Basic Multilingual Plane).
std::uint32_t codePointAt(const unsigned char* bytes, std::size_t length) {
  unsigned char c = bytes[0];
  if (c >= 0xC2 && c <= 0xDF && length >= 2 && (bytes[1] & 0xC0) == 0x80) {
    return (c & 0x1Fu) << 6 | (bytes[1] & 0x3Fu);
  }
  if (c >= 0xE0 && c <= 0xEF && length >= 3 && (bytes[1] & 0xC0) == 0x80 &&
      (bytes[2] & 0xC0) == 0x80) {
    std::uint32_t code = (c & 0x0Fu) << 12 | (bytes[1] & 0x3Fu) << 6 | (bytes[2] & 0x3Fu);
    return code >= 0x800 && (code < 0xD800 || code > 0xDFFF) ? code : 0;
  }
  return 0;
}

// True for the blanks of Unicode (its space separators) that are no space.
bool isUnicodeBlank(std::uint32_t code) {
  return code == 0x00A0 || code == 0x1680 || (code >= 0x2000 && code <= 0x200A) || code == 0x202F ||
         code == 0x205F || code == 0x3000;
}

// Explains a run that begins with a character outside ASCII: the slips a
// keyboard or a phone makes for "#", "b", digits, letters and spaces.
SkipExplanation explainUnicode(std::uint32_t code) {
  SkipExplanation explanation;
  if (code == 0x266F) {
    explanation.reason = SkipReason::typographicSharp;
  } else if (code == 0x266D) {
    explanation.reason = SkipReason::typographicFlat;
  } else if ((code >= 0xFF10 && code <= 0xFF19) || (code >= 0xFF21 && code <= 0xFF3A) ||
             (code >= 0xFF41 && code <= 0xFF5A)) {
    explanation.reason = SkipReason::fullWidth;
  } else if (isUnicodeBlank(code)) {
    explanation.reason = SkipReason::unicodeBlank;
    explanation.codePoint = code;
  }
  return explanation;
}

}  // namespace

SkipExplanation explainSkipped(const unsigned char* bytes, std::size_t length) {
  std::size_t first = 0;
  while (first < length && scoreFormat::isBlank(bytes[first])) ++first;
  if (first < length && bytes[first] >= 0x80) {
    return explainUnicode(codePointAt(bytes + first, length - first));
  }
  // The first four characters of chord text, folded, as the parser saw them.
  unsigned char c[4] = {0, 0, 0, 0};
  std::size_t seen = 0;
  for (std::size_t i = 0; i < length && seen < 4; ++i) {
    unsigned char folded = scoreFormat::foldCase(bytes[i]);
    if (!scoreFormat::isBlank(folded)) c[seen++] = folded;
  }
  SkipExplanation explanation;
  bool accidental = c[1] == scoreFormat::sharp || c[1] == scoreFormat::flat;
  if (c[0] >= 'a' && c[0] <= 'g' && (isDigit(c[1]) || (accidental && isDigit(c[2])))) {
    explanation.reason = SkipReason::letterName;
  } else if (isDigit(c[0]) && !isOctave(c[0]) && isNoteLetter(c[1])) {
    explanation.reason = SkipReason::octaveOutOfRange;
    explanation.octave = c[0];
  } else if (isOctave(c[0])) {
    // An octave and a note letter are skipped only when an accidental takes
    // the pitch out of the table.
    explanation.reason =
        isNoteLetter(c[1]) ? SkipReason::pitchOutOfRange : SkipReason::noNoteLetter;
  } else if (isNoteLetter(c[0])) {
    explanation.reason = SkipReason::noOctave;
  }
  return explanation;
}
