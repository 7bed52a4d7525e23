#include "score/skip_reason.h"

#include "score/note_grammar.h"
#include "score/score_format.h"

namespace {

bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }

// The note grammar's own classes of a folded character.
bool isOctave(unsigned char c) { return noteGrammar::table.classOf[c] < noteGrammar::letterClass; }
bool isNoteLetter(unsigned char c) { return noteGrammar::isLetter(noteGrammar::table.classOf[c]); }

}  // namespace

SkipExplanation explainSkipped(const unsigned char* bytes, std::size_t length) {
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
