#include "score/scanner.h"

#include <algorithm>
#include <cstring>

#include "score/duration.h"
#include "score/note_grammar.h"
#include "score/scanner_steps.h"
#include "score/text_kernel_scalar.h"
#include "score/text_kernel_sse2.h"
#include "score/text_scan.h"

namespace {

// Reads the header line, at most headerLineLimit characters through its LF,
// into stats and returns its leading number.
double readHeaderLine(ScoreReader& reader, ScoreStats& stats) {
  stats.headerLength = 0;
  while (stats.headerLength < scoreFormat::headerLineLimit) {
    int c = nextChar(reader);
    if (c < 0) break;
    stats.headerText[stats.headerLength++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  stats.barInHeader =
      std::memchr(stats.headerText, scoreFormat::bar, stats.headerLength) != nullptr;
  return parseDuration(stats.headerText, stats.headerLength);
}

// Takes one character of chord text (not a blank, not a bar) at offset as
// the parser would, counting only.
inline void countChar(ChordCount& chord, unsigned char c, std::int64_t offset) {
  int charClass = noteGrammar::table.classOf[c];
  const noteGrammar::Step step = noteGrammar::table.steps[chord.state][charClass];
  if (noteGrammar::isLetter(charClass)) {
    if (chord.letters++ == 0) chord.firstLetter = offset;
    chord.lastLetter = offset;
  }
  chord.notes += step.note >= 0 ? 1 : 0;
  chord.state = step.next;
}

// Counts the windows from the cursor on while each is plain note text from
// its first byte: plain text seldom ends at a window's edge. Wide windows
// first, if the pass takes them. (Out of line: the windows of text that
// holds little plain text are better off without its registers.)
template <typename Kernel>
SCORE2WAV_NOINLINE void countPlainWindows(ScoreCursor& cursor, ScoreStats& stats, ChordCount& chord,
                                          bool wide) {
  using namespace textScan;
  while (cursor.end - cursor.next >= window) {
    if (wide && countPlainWide(cursor, stats, chord)) continue;
    if (!beginsPlain(cursor.bytes[cursor.next], true)) return;
    std::int64_t offset = cursorOffset(cursor);
    Masks m = Kernel::classify(cursor.bytes + cursor.next);
    unsigned letters = 0;
    unsigned length = plainTokens(m, m.blank | m.bar, letters);
    if (length == 0) return;
    countTokens<window>(stats, chord, m, length, offset);
    cursor.next += length;
  }
}

// Takes a stretch of the window at the cursor in one step, while nothing
// waits (or an octave and a letter wait that the window shows to be a
// note): bytes that begin nothing (their letters counted), or plain note
// text with its bars. Returns false if it took nothing: a character for
// the step table.
template <typename Kernel>
inline bool countStretch(ScoreCursor& cursor, ScoreStats& stats, ChordCount& chord,
                         textScan::Pace& pace, bool wide) {
  using namespace textScan;
  unsigned char first = cursor.bytes[cursor.next];
  bool live =
      noteGrammar::table.classOf[first] < noteGrammar::flatClass || first == scoreFormat::bar;
  if (wide && chord.state == noteGrammar::idle && first != scoreFormat::bar &&
      noteGrammar::table.classOf[first] >= noteGrammar::letterClass &&
      cursor.end - cursor.next >= wideWindow) {
    return countSkippedWide(cursor, chord);
  }
  if (chord.state == noteGrammar::idle && !live) {
    std::size_t inert = Kernel::inertLength(cursor.bytes + cursor.next, cursor.bytes + cursor.end);
    cursor.next += inert;  // lines are not counted here: the pre-scan keeps no positions
    if (cursor.end - cursor.next < window) return inert > 0;
  }
  std::int64_t offset = cursorOffset(cursor);
  Masks m;
  Gate gate =
      passGate<Kernel>(pace, offset, chord.state != noteGrammar::idle,
                       beginsPlain(cursor.bytes[cursor.next], true), cursor.bytes + cursor.next, m);
  if (gate == Gate::closed) return false;
  if (gate == Gate::noteSettled) {
    ++chord.notes;
    chord.state = noteGrammar::idle;
  }
  unsigned stop = m.octave | m.bar;
  if ((stop & 1u) == 0) {
    unsigned length = stop != 0 ? lowestBit(stop) : window;
    countLetters<window>(chord, m.letter & below(length), offset);
    cursor.next += length;
    return true;
  }
  if (!mayTry(pace, offset)) return false;
  unsigned letters = 0;
  unsigned length = plainTokens(m, m.blank | m.bar, letters);
  tried(pace, offset, length > 0);
  if (length == 0) return false;
  countTokens<window>(stats, chord, m, length, offset);
  cursor.next += length;
  if (length >= window / 2)
    countPlainWindows<Kernel>(cursor, stats, chord, wide);  // (short: plain text ends)
  return true;
}

// Counts the characters of the reader's block from reader.next on: many at
// a time where it can, else one by one with the step table.
template <typename Kernel>
void countBlock(ScoreReader& reader, ScoreStats& stats, ChordCount& chord, textScan::Pace& pace,
                bool wide) {
  ScoreCursor cursor = cursorOf(reader);
  while (cursor.next < cursor.end) {
    bool settled = chord.state == noteGrammar::idle || chord.state >= noteGrammar::firstPairState;
    if (settled && reader.fastPaths && cursor.end - cursor.next >= textScan::window &&
        countStretch<Kernel>(cursor, stats, chord, pace, wide)) {
      continue;
    }
    std::int64_t offset = cursorOffset(cursor);
    unsigned char c = takeChar(cursor);
    if (scoreFormat::isBlank(c)) continue;
    if (c == scoreFormat::bar) {
      countChord(stats, chord, cursorOffset(cursor));
      continue;
    }
    countChar(chord, c, offset);
  }
  keepCursor(reader, cursor);
}

}  // namespace

bool scanScore(ScoreReader& reader, ScoreStats& stats) {
  stats = ScoreStats{};
  stats.noteDuration = readHeaderLine(reader, stats);
  stats.chordStream = markReader(reader);
  stats.lastBarEnd = stats.chordStream.offset;
  ChordCount chord;
  textScan::Pace pace;
  using namespace textScan;
  while (reader.next < reader.length || refillReader(reader)) {
    switch (reader.kernel) {
      case TextKernel::scalar: countBlock<ScalarKernel>(reader, stats, chord, pace, false); break;
      case TextKernel::sse2: countBlock<Sse2Kernel>(reader, stats, chord, pace, false); break;
      case TextKernel::avx2: countBlock<Sse2Kernel>(reader, stats, chord, pace, true); break;
    }
  }
  stats.trailingLetters = chord.letters;
  stats.trailingStart = chord.firstLetter;
  stats.trailingEnd = chord.lastLetter + 1;
  return !reader.failed;
}
