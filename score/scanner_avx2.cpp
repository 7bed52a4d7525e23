// The pre-scan's AVX2 steps: skipped text 32 bytes at a time, and plain
// note text 32 or 64 at a time. Built where text_kernel.h says the AVX2
// kernel is; elsewhere the steps are never taken, and take nothing.
#include "score/scanner_steps.h"
#include "score/text_kernel_avx2.h"

#if SCORE2WAV_AVX2_KERNEL
namespace {

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

}  // namespace

// Counts skipped text from the cursor on, a wide window at a time, up to
// the first octave that may begin a note or bar (its letters counted, all
// else passed), as countStretch and the step table do; returns true if it
// took any.
SCORE2WAV_WIDE bool countSkippedWide(ScoreCursor& cursor, ChordCount& chord) {
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
SCORE2WAV_WIDE bool countPlainWide(ScoreCursor& cursor, ScoreStats& stats, ChordCount& chord) {
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
#else

bool countSkippedWide(ScoreCursor&, ChordCount&) { return false; }

bool countPlainWide(ScoreCursor&, ScoreStats&, ChordCount&) { return false; }

#endif
