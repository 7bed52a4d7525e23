#include "score/scanner.h"

#include <algorithm>

#include "score/duration.h"
#include "score/score_format.h"

namespace {

// Reads the header line, at most headerLineLimit characters through its LF,
// and returns its leading number.
double readHeaderLine(ScoreReader& reader) {
  char line[scoreFormat::headerLineLimit];
  std::size_t length = 0;
  while (length < scoreFormat::headerLineLimit) {
    int c = nextChar(reader);
    if (c < 0) break;
    line[length++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  return parseDuration(line, length);
}

}  // namespace

bool scanScore(ScoreReader& reader, ScoreStats& stats) {
  stats = ScoreStats{};
  stats.noteDuration = readHeaderLine(reader);
  stats.chordStream = markReader(reader);
  std::int64_t notes = 0;
  for (int c = nextChar(reader); c >= 0; c = nextChar(reader)) {
    unsigned char folded = scoreFormat::foldCase(static_cast<unsigned char>(c));
    if (scoreFormat::isNoteLetter(folded)) {
      ++notes;
    } else if (folded == scoreFormat::bar) {
      stats.maxChordNotes = std::max(stats.maxChordNotes, notes);
      ++stats.chordCount;
      notes = 0;
    }
  }
  return !reader.failed;
}

bool readChordText(ScoreReader& reader, ChordText& chord) {
  chord.text.clear();
  chord.stretches.clear();
  TextPosition expected;  // where the next character continues the last stretch
  for (;;) {
    TextPosition at = reader.position;
    int c = nextChar(reader);
    if (c < 0) return false;
    unsigned char folded = scoreFormat::foldCase(static_cast<unsigned char>(c));
    if (scoreFormat::isBlank(folded)) continue;
    if (folded == scoreFormat::bar) return true;
    if (chord.text.empty() || at.line != expected.line || at.column != expected.column) {
      chord.stretches.push_back(TextStretch{chord.text.size(), at});
    }
    chord.text.push_back(static_cast<char>(folded));
    expected = TextPosition{at.line, at.column + 1};
  }
}

TextPosition positionOf(const ChordText& chord, std::size_t textIndex) {
  auto after = std::upper_bound(
      chord.stretches.begin(), chord.stretches.end(), textIndex,
      [](std::size_t index, const TextStretch& stretch) { return index < stretch.textIndex; });
  if (after == chord.stretches.begin()) return TextPosition{};
  const TextStretch& stretch = *(after - 1);
  return TextPosition{
      stretch.position.line,
      stretch.position.column + static_cast<std::int64_t>(textIndex - stretch.textIndex)};
}
