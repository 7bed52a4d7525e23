// The second pass's AVX2 steps: plain note text and skipped text 32
// bytes at a time, each window's echo and notes gathered with byte
// shuffles. Built where text_kernel.h says the AVX2 kernel is; elsewhere
// the steps are never taken, and take nothing.
#include "score/chord_parser_steps.h"
#include "score/text_kernel_avx2.h"

#if SCORE2WAV_AVX2_KERNEL
namespace {

// Returns a wide window's bytes v folded as foldWindow folds them.
SCORE2WAV_WIDE inline __m256i foldWide(__m256i v) {
  __m256i upper = _mm256_and_si256(_mm256_cmpgt_epi8(v, textScan::wideSplat('A' - 1)),
                                   _mm256_cmpgt_epi8(textScan::wideSplat('Z' + 1), v));
  return _mm256_add_epi8(v, _mm256_and_si256(upper, textScan::wideSplat(0x20)));
}

// Returns the pitches of a wide window's letters (its bytes v) as
// windowPitches gives them.
SCORE2WAV_WIDE inline __m256i widePitches(__m256i v) {
  using scoreFormat::noteLetters;
  const __m256i lower = _mm256_or_si256(v, textScan::wideSplat(0x20));
  // Each byte's neighbours, across the halves: the byte before (0 before
  // the first) and the byte after (0 after the last).
  const __m256i before = _mm256_alignr_epi8(v, _mm256_permute2x128_si256(v, v, 0x08), 15);
  const __m256i after = _mm256_alignr_epi8(_mm256_permute2x128_si256(v, v, 0x81), v, 1);
  const __m256i octave = _mm256_sub_epi8(before, textScan::wideSplat(scoreFormat::firstOctave));
  const __m256i twice = _mm256_add_epi8(octave, octave);
  const __m256i four = _mm256_add_epi8(twice, twice);
  __m256i pitch = _mm256_add_epi8(_mm256_add_epi8(four, four), four);  // the octave times 12
  for (int letter = 0; letter < scoreFormat::letterCount; ++letter) {
    const int semitone =
        scoreFormat::semitoneOffset(static_cast<unsigned char>(noteLetters[letter]));
    pitch = _mm256_add_epi8(
        pitch,
        _mm256_and_si256(textScan::wideIs(lower, static_cast<unsigned char>(noteLetters[letter])),
                         textScan::wideSplat(static_cast<unsigned char>(semitone))));
  }
  pitch = _mm256_add_epi8(
      pitch, _mm256_and_si256(textScan::wideIs(after, scoreFormat::sharp), textScan::wideSplat(1)));
  return _mm256_add_epi8(pitch, textScan::wideIs(_mm256_or_si256(after, textScan::wideSplat(0x20)),
                                                 scoreFormat::flat));
}

// For each mask of eight bytes, the indexes of its set bits in rising
// order: the shuffle that gathers those bytes at the front.
struct Gathers {
  unsigned char of[256][8];
  constexpr Gathers() : of() {
    for (int mask = 0; mask < 256; ++mask) {
      int count = 0;
      for (int bit = 0; bit < 8; ++bit) {
        if ((mask >> bit) & 1) of[mask][count++] = static_cast<unsigned char>(bit);
      }
    }
  }
};
inline constexpr Gathers gathers;

// Returns the bytes of the eighth i (0..3) of v that the mask keeps (its
// bits 0..7), at the front.
SCORE2WAV_WIDE inline __m128i gatherEighth(__m256i v, int i, unsigned mask) {
  __m128i half = i < 2 ? _mm256_castsi256_si128(v) : _mm256_extracti128_si256(v, 1);
  if (i % 2 == 1) half = _mm_srli_si128(half, 8);
  __m128i order = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(gathers.of[mask]));
  return _mm_shuffle_epi8(half, order);
}

// Writes the bytes of v whose bits are set in keep to out, in order, and
// returns the end of what they fill (eight bytes past it may be written).
SCORE2WAV_WIDE inline char* gatherBytes(__m256i v, unsigned keep, char* out) {
  for (int i = 0; i < 4; ++i) {
    unsigned mask = (keep >> (8 * i)) & 0xFFu;
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), gatherEighth(v, i, mask));
    out += __builtin_popcount(mask);
  }
  return out;
}

// Stores the bytes of v whose bits are set in keep at notes, in order, as
// pitches (eight notes past them may be written).
SCORE2WAV_WIDE inline void gatherNotes(__m256i v, unsigned keep, std::int16_t* notes) {
  for (int i = 0; i < 4; ++i) {
    unsigned mask = (keep >> (8 * i)) & 0xFFu;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(notes),
                     _mm_cvtepu8_epi16(gatherEighth(v, i, mask)));
    notes += __builtin_popcount(mask);
  }
}

// Appends to the echo block, at used, the bytes of the wide window v that
// keep marks (all of its first length bytes if keep marks them all),
// folded; returns the bytes of the block used then.
SCORE2WAV_WIDE inline std::size_t echoWide(EchoBlock& block, std::size_t used, __m256i v,
                                           unsigned keep, unsigned length) {
  char* out = block.bytes + used;
  if (keep == textScan::below(length)) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), foldWide(v));
    return used + length;
  }
  return static_cast<std::size_t>(gatherBytes(foldWide(v), keep, out) - block.bytes);
}

// Returns the place of byte i of a wide window at the cursor, whose LFs
// before it are lineFeeds.
inline TextPosition placeInWindow(const ScoreCursor& cursor, unsigned i, unsigned lineFeeds) {
  std::int64_t offset = cursorOffset(cursor);
  std::int64_t lineStart =
      lineFeeds != 0 ? offset + textScan::highestBit(lineFeeds) + 1 : cursor.lineStart;
  return TextPosition{cursor.line + textScan::bitCount<textScan::wideWindow>(lineFeeds),
                      offset + i - lineStart + 1};
}

}  // namespace

// Takes wide windows from the cursor on while each is plain note text from
// its first byte whose notes fit, as takeStretch takes narrow ones: a
// window's echo is its bytes but the blanks, folded, and its notes the
// pitches at its letters, each gathered a vector at a time. The cursor and
// counts stay in locals while it runs: the echo and the notes are stored
// through pointers that may alias anything, so fields in memory would be
// read again after every store, and the next window's place waits on them.
SCORE2WAV_WIDE void takePlainWide(ChordParser& parser, EchoBlock& block, EchoSink echo,
                                  ScoreCursor& cursor) {
  using namespace textScan;
  ScoreCursor at = cursor;
  std::size_t used = block.used;
  std::int64_t kept = parser.notesKept;
  std::int16_t* const notes = parser.chord->notes;
  // Eight notes past the window's may be written: the last few windows of
  // the chord's room are left to the narrow way.
  const std::int64_t room = parser.chord->capacity - 8;
  while (at.end - at.next >= wideWindow && beginsPlain(at.bytes[at.next], false)) {
    const unsigned char* bytes = at.bytes + at.next;
    Masks m = classifyWide(bytes);
    unsigned letters = 0;
    unsigned length = plainTokens<wideWindow>(m, m.blank, letters);
    if (length == 0 || kept + letters > room) break;
    if (used + 2 * wideWindow > EchoBlock::capacity) {
      block.used = used;
      passOn(block, echo);
      used = block.used;
    }
    if (letters > 0) chordParsing::closeRun(parser);  // as the first note would (not blanks)
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes));
    unsigned span = below(length);
    used = echoWide(block, used, v, ~m.blank & span, length);
    gatherNotes(widePitches(v), m.letter & span, notes + kept);
    kept += letters;
    unsigned lineFeeds = m.lineFeed & span;
    if (lineFeeds != 0) {
      at.line += bitCount<wideWindow>(lineFeeds);
      at.lineStart = cursorOffset(at) + highestBit(lineFeeds) + 1;
    }
    at.next += length;
  }
  parser.letters += kept - parser.notesKept;
  parser.notesKept = kept;
  parser.chord->noteCount = kept;
  block.used = used;
  cursor = at;
}

// Takes skipped text and blanks from the cursor on, a wide window at a
// time, up to the first octave that may begin a note, bar or CR, as the
// step table takes them (echoed folded without blanks, letters and lines
// counted, the run of skipped text grown over the bytes skipped); returns
// true if it took any. Plain text that might have begun at a blank begins
// at its octave all the same. Its place stays in locals, as in
// takePlainWide, and the run grows once, at the end.
SCORE2WAV_WIDE bool takeSkippedWide(ChordParser& parser, EchoBlock& block, EchoSink echo,
                                    ScoreCursor& cursor) {
  using namespace textScan;
  ScoreCursor at = cursor;
  std::size_t used = block.used;
  std::int64_t letterCount = 0;
  std::int64_t firstSkipped = -1;  // file offsets of the first byte skipped, and past the last
  std::int64_t skippedEnd = 0;
  TextPosition firstPosition;
  while (at.end - at.next >= wideWindow) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at.bytes + at.next));
    const std::int64_t offset = cursorOffset(at);
    WideStops w = wideStops(v);
    unsigned stop = w.stops | w.carriages;
    unsigned length = stop != 0 ? lowestBit(stop) : wideWindow;
    if (length == 0) break;
    unsigned span = below(length);
    unsigned skipped = ~w.blanks & span;
    if (used + 2 * wideWindow > EchoBlock::capacity) {
      block.used = used;
      passOn(block, echo);
      used = block.used;
    }
    used = echoWide(block, used, v, skipped, length);
    if (skipped != 0) {
      if (firstSkipped < 0) {
        unsigned first = lowestBit(skipped);
        firstSkipped = offset + first;
        firstPosition = placeInWindow(at, first, w.lineFeeds & below(first));
      }
      skippedEnd = offset + highestBit(skipped) + 1;
    }
    letterCount += bitCount<wideWindow>(w.letters & span);
    unsigned feeds = w.lineFeeds & span;
    if (feeds != 0) {
      at.line += bitCount<wideWindow>(feeds);
      at.lineStart = offset + highestBit(feeds) + 1;
    }
    at.next += length;
    if (length < wideWindow) break;
  }
  block.used = used;
  if (at.next == cursor.next) return false;
  if (firstSkipped >= 0) {
    chordParsing::skipChars(parser, firstSkipped, skippedEnd - firstSkipped, firstPosition);
  }
  parser.letters += letterCount;
  cursor = at;
  return true;
}
#else

void takePlainWide(ChordParser&, EchoBlock&, EchoSink, ScoreCursor&) {}

bool takeSkippedWide(ChordParser&, EchoBlock&, EchoSink, ScoreCursor&) { return false; }

#endif
