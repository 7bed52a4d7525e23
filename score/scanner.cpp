#include "score/scanner.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "score/chord_parser.h"
#include "score/duration.h"

namespace {

// True for the bytes of the chord stream that change nothing the pre-scan
// counts while no character waits to begin a note: all but octave
// characters, note letters (either case) and the bar. A lone CR is skipped
// text, a CR LF a blank: inert either way.
inline bool isInert(unsigned char c) {
  return noteGrammar::table.classOf[c] >= noteGrammar::flatClass && c != scoreFormat::bar;
}

#if defined(__SSE2__)
// Returns a mask of the bytes of block that are not inert: octave
// characters, note letters in either case (a letter OR 0x20 is its lower
// case, and no other byte becomes a letter that way), and the bar.
inline unsigned liveBytes(__m128i block) {
  __m128i lower = _mm_or_si128(block, _mm_set1_epi8(0x20));
  __m128i live = _mm_cmpeq_epi8(_mm_and_si128(block, _mm_set1_epi8(static_cast<char>(0xFC))),
                                _mm_set1_epi8('0'));  // '0'..'3'
  for (char letter : {'d', 'r', 'm', 'f', 's', 'l', 't'}) {
    live = _mm_or_si128(live, _mm_cmpeq_epi8(lower, _mm_set1_epi8(letter)));
  }
  live = _mm_or_si128(live, _mm_cmpeq_epi8(block, _mm_set1_epi8('|')));
  return static_cast<unsigned>(_mm_movemask_epi8(live));
}
#endif

// Moves the reader over inert bytes in its block (lines are not counted:
// the pre-scan keeps no positions, and the second pass restores its own).
// Sixteen bytes at a time where the processor allows: a score may hold
// gigabytes of text that counts for nothing.
void skipInert(ScoreReader& reader) {
  const unsigned char* at = reader.buffer + reader.next;
  const unsigned char* end = reader.buffer + reader.length;
#if defined(__SSE2__)
  while (end - at >= 16) {
    unsigned live = liveBytes(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)));
    if (live != 0) {
      at += __builtin_ctz(live);
      reader.next = static_cast<std::size_t>(at - reader.buffer);
      return;
    }
    at += 16;
  }
#endif
  while (at != end && isInert(*at)) ++at;
  reader.next = static_cast<std::size_t>(at - reader.buffer);
}

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

// Counts the characters of the reader's block from reader.next on, up to
// its end, and stops early where nothing waits, so that inert bytes can be
// skipped.
void countBlock(ScoreReader& reader, ScoreStats& stats, ChordCount& chord) {
  ScoreCursor cursor = cursorOf(reader);
  while (cursor.next < cursor.end) {
    std::int64_t offset = cursorOffset(cursor);
    unsigned char c = takeChar(cursor);
    if (scoreFormat::isBlank(c)) continue;
    if (c == scoreFormat::bar) {
      countChord(stats, chord, cursorOffset(cursor));
      break;
    }
    countChar(chord, c, offset);
    if (chord.state == noteGrammar::idle) break;
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
  for (;;) {
    if (chord.state == noteGrammar::idle) skipInert(reader);
    if (reader.next == reader.length && !refillReader(reader)) break;
    countBlock(reader, stats, chord);
  }
  stats.trailingLetters = chord.letters;
  stats.trailingStart = chord.firstLetter;
  stats.trailingEnd = chord.lastLetter + 1;
  return !reader.failed;
}
