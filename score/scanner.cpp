#include "score/scanner.h"

#include <algorithm>
#include <cstring>

#include "score/duration.h"
#include "score/note_grammar.h"
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

// What the pre-scan counts in the chord being read.
struct ChordCount {
  int state = noteGrammar::idle;  // of the note grammar
  std::int64_t letters = 0;
  std::int64_t notes = 0;
  std::int64_t firstLetter = 0;  // file offsets of its first and last note letters
  std::int64_t lastLetter = 0;
};

// Counts the note letters whose bits are set, in a window of W bytes at
// offset, and returns how many there are.
template <std::size_t W>
inline unsigned countLetters(ChordCount& chord, unsigned bits, std::int64_t offset) {
  if (bits == 0) return 0;
  if (chord.letters == 0) chord.firstLetter = offset + textScan::lowestBit(bits);
  chord.lastLetter = offset + textScan::highestBit(bits);
  unsigned count = textScan::bitCount<W>(bits);
  chord.letters += count;
  return count;
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

// Counts the chord a bar at barEnd - 1 has just ended.
void countChord(ScoreStats& stats, ChordCount& chord, std::int64_t barEnd) {
  chord.notes += noteGrammar::table.steps[chord.state][noteGrammar::endClass].note >= 0 ? 1 : 0;
  stats.maxChordNotes = std::max(stats.maxChordNotes, chord.letters);
  stats.maxKeptNotes = std::max(stats.maxKeptNotes, chord.notes);
  stats.letterTotal += chord.letters;
  stats.noteTotal += chord.notes;
  ++stats.chordCount;
  stats.lastBarEnd = barEnd;
  chord = ChordCount{};
}

// Counts the plain note text of length bytes at offset, in a window of W
// bytes, chord by chord at its bars. The chords that begin and end within
// the window hold whole tokens and nothing else: every letter of theirs is
// a note, and they are only counted.
template <std::size_t W>
void countTokens(ScoreStats& stats, ChordCount& chord, const textScan::Masks& m, unsigned length,
                 std::int64_t offset) {
  using namespace textScan;
  unsigned bars = m.bar & below(length);
  unsigned from = 0;
  if (bars != 0) {  // the chord the window began in ends
    unsigned bar = lowestBit(bars);
    chord.notes += countLetters<W>(chord, m.letter & below(bar), offset);
    countChord(stats, chord, offset + bar + 1);
    from = bar + 1;
    bars &= bars - 1;
  }
  if (bars != 0) {
    unsigned start = from;  // of the first whole chord
    unsigned most = 0;
    for (; bars != 0; bars &= bars - 1) {
      unsigned bar = lowestBit(bars);
      unsigned count = bitCount<W>(m.letter & below(bar) & ~below(from));
      most = count > most ? count : most;
      from = bar + 1;
      ++stats.chordCount;
    }
    std::int64_t letters = bitCount<W>(m.letter & below(from) & ~below(start));
    stats.maxChordNotes = std::max<std::int64_t>(stats.maxChordNotes, most);
    stats.maxKeptNotes = std::max<std::int64_t>(stats.maxKeptNotes, most);
    stats.letterTotal += letters;
    stats.noteTotal += letters;
    stats.lastBarEnd = offset + from;
  }
  chord.notes += countLetters<W>(chord, m.letter & below(length) & ~below(from), offset);
}

#if defined(SCORE2WAV_WIDE_WINDOWS)
// Counts the letters of a plain run at offset (each one note), as
// countLetters counts a window's, in one step over its 64 bits.
SCORE2WAV_WIDE inline void countRunLetters(ChordCount& chord, std::uint64_t letters,
                                           std::int64_t offset) {
  if (letters == 0) return;
  if (chord.letters == 0) chord.firstLetter = offset + __builtin_ctzll(letters);
  chord.lastLetter = offset + (63 - __builtin_clzll(letters));
  std::int64_t count = __builtin_popcountll(letters);
  chord.letters += count;
  chord.notes += count;
}

// Counts skipped text from the cursor on, a wide window at a time, up to
// the first octave that may begin a note or bar (its letters counted, all
// else passed), as countStretch and the step table do; returns true if it
// took any.
SCORE2WAV_WIDE SCORE2WAV_NOINLINE bool countSkippedWide(ScoreCursor& cursor, ChordCount& chord) {
  using namespace textScan;
  std::size_t next = cursor.next;  // in a register: the counts' stores may alias the cursor
  while (cursor.end - next >= wideWindow) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cursor.bytes + next));
    WideStops w = wideStops(v);
    unsigned length = w.stops != 0 ? lowestBit(w.stops) : wideWindow;
    if (length == 0) break;
    countLetters<wideWindow>(chord, w.letters & below(length),
                             cursor.base + static_cast<std::int64_t>(next));
    next += length;  // lines are not counted here: the pre-scan keeps no positions
    if (length < wideWindow) break;
  }
  bool took = next != cursor.next;
  cursor.next = next;
  return took;
}

// Counts wide windows from the cursor on while each is plain note text from
// its first byte, as countPlainWindows does; returns true if it took any.
SCORE2WAV_WIDE SCORE2WAV_NOINLINE bool countPlainWide(ScoreCursor& cursor, ScoreStats& stats,
                                                      ChordCount& chord) {
  using namespace textScan;
  std::size_t next = cursor.next;  // in a register: the counts' stores may alias the cursor
  while (cursor.end - next >= wideWindow && beginsPlain(cursor.bytes[next], true)) {
    std::int64_t offset = cursor.base + static_cast<std::int64_t>(next);
    if (cursor.end - next >= 2 * wideWindow) {  // a long chord's text: no bar for a while
      PlainRun run = plainRun(cursor.bytes + next);
      if (run.length > 0) {
        countRunLetters(chord, run.letter, offset);
        next += run.length;
        continue;
      }
    }
    Masks m = classifyWide(cursor.bytes + next);
    unsigned letters = 0;
    unsigned length = plainTokens<wideWindow>(m, m.blank | m.bar, letters);
    if (length == 0) break;
    countTokens<wideWindow>(stats, chord, m, length, offset);
    next += length;
  }
  bool took = next != cursor.next;
  cursor.next = next;
  return took;
}
#endif

// Counts the windows from the cursor on while each is plain note text from
// its first byte: plain text seldom ends at a window's edge. Wide windows
// first, if the pass takes them. (Out of line: the windows of text that
// holds little plain text are better off without its registers.)
SCORE2WAV_NOINLINE void countPlainWindows(ScoreCursor& cursor, ScoreStats& stats, ChordCount& chord,
                                          bool wide) {
  using namespace textScan;
  while (cursor.end - cursor.next >= window) {
#if defined(SCORE2WAV_WIDE_WINDOWS)
    if (wide && countPlainWide(cursor, stats, chord)) continue;
#else
    static_cast<void>(wide);
#endif
    if (!beginsPlain(cursor.bytes[cursor.next], true)) return;
    std::int64_t offset = cursorOffset(cursor);
    Masks m = classify(cursor.bytes + cursor.next);
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
inline bool countStretch(ScoreCursor& cursor, ScoreStats& stats, ChordCount& chord,
                         textScan::Pace& pace, bool wide) {
  using namespace textScan;
  unsigned char first = cursor.bytes[cursor.next];
  bool live =
      noteGrammar::table.classOf[first] < noteGrammar::flatClass || first == scoreFormat::bar;
#if defined(SCORE2WAV_WIDE_WINDOWS)
  if (wide && chord.state == noteGrammar::idle && first != scoreFormat::bar &&
      noteGrammar::table.classOf[first] >= noteGrammar::letterClass &&
      cursor.end - cursor.next >= wideWindow) {
    return countSkippedWide(cursor, chord);
  }
#endif
  if (chord.state == noteGrammar::idle && !live) {
    std::size_t inert = inertLength(cursor.bytes + cursor.next, cursor.bytes + cursor.end);
    cursor.next += inert;  // lines are not counted here: the pre-scan keeps no positions
    if (cursor.end - cursor.next < window) return inert > 0;
  }
  std::int64_t offset = cursorOffset(cursor);
  Masks m;
  Gate gate = passGate(pace, offset, chord.state != noteGrammar::idle,
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
    countPlainWindows(cursor, stats, chord, wide);  // (short: plain text ends)
  return true;
}

// Counts the characters of the reader's block from reader.next on: many at
// a time where it can, else one by one with the step table.
void countBlock(ScoreReader& reader, ScoreStats& stats, ChordCount& chord, textScan::Pace& pace) {
  ScoreCursor cursor = cursorOf(reader);
  const bool wide = textScan::takesWideWindows(reader.wideWindows);
  while (cursor.next < cursor.end) {
    bool settled = chord.state == noteGrammar::idle || chord.state >= noteGrammar::firstPairState;
    if (settled && reader.fastPaths && cursor.end - cursor.next >= textScan::window &&
        countStretch(cursor, stats, chord, pace, wide)) {
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
  while (reader.next < reader.length || refillReader(reader))
    countBlock(reader, stats, chord, pace);
  stats.trailingLetters = chord.letters;
  stats.trailingStart = chord.firstLetter;
  stats.trailingEnd = chord.lastLetter + 1;
  return !reader.failed;
}
