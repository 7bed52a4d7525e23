#include "score/scanner.h"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "score/chord_parser.h"
#include "score/duration.h"

namespace {

// Bytes of the chord stream that change nothing the pre-scan counts while no
// character waits to begin a note: all but octave characters, note letters
// (either case) and the bar. A lone CR is skipped text, a CR LF a blank:
// inert either way.
struct InertTable {
  bool inert[256];
  constexpr InertTable() : inert() {
    for (int c = 0; c < 256; ++c) {
      unsigned char folded = scoreFormat::foldCase(static_cast<unsigned char>(c));
      bool octave = c >= '0' && c < '0' + scoreFormat::octaveCount;
      bool letter = scoreFormat::semitoneOffsetOf(folded) >= 0;
      inert[c] = !octave && !letter && folded != scoreFormat::bar;
    }
  }
};
constexpr InertTable inertBytes;

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

// Moves the reader over inert bytes in its buffer (positions are not kept:
// the pre-scan has no use for them, and the second pass restores its own).
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
  while (at != end && inertBytes.inert[*at]) ++at;
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
  return parseDuration(stats.headerText, stats.headerLength);
}

// Counts the chord the parser has just finished.
void countChord(ScoreStats& stats, const ChordParser& parser, std::int64_t barEnd) {
  stats.maxChordNotes = std::max(stats.maxChordNotes, parser.letters);
  stats.maxKeptNotes = std::max(stats.maxKeptNotes, parser.notesKept);
  stats.letterTotal += parser.letters;
  stats.noteTotal += parser.notesKept;
  ++stats.chordCount;
  stats.lastBarEnd = barEnd;
}

}  // namespace

bool scanScore(ScoreReader& reader, ScoreStats& stats) {
  stats = ScoreStats{};
  stats.noteDuration = readHeaderLine(reader, stats);
  stats.chordStream = markReader(reader);
  stats.lastBarEnd = stats.chordStream.offset;
  ChordParser parser;  // counts notes; keeps none
  startChord(parser);
  for (;;) {
    if (parser.waitingCount == 0) skipInert(reader);
    int c = nextChar(reader);
    if (c < 0) break;
    unsigned char folded = scoreFormat::foldCase(static_cast<unsigned char>(c));
    if (scoreFormat::isBlank(folded)) continue;
    if (folded == scoreFormat::bar) {
      finishChord(parser);
      countChord(stats, parser, readerOffset(reader));
      startChord(parser);
      continue;
    }
    parseChordChar(parser, folded, 0, 1, 0);
  }
  return !reader.failed;
}
