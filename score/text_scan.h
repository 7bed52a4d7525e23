// Chord text many bytes at a time, for both passes: the masks of a
// window's bytes (which a kernel of text_kernel.h finds), and the stretches
// a pass may take in one step while no character waits to begin a note.
// Such a stretch gives what the note grammar's step table would, byte for
// byte; everything else is left to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "score/note_grammar.h"
#include "score/score_format.h"
#include "score/text_kernel.h"

// Marks a function the compiler must not merge into its caller: both
// passes keep their rarer ways out of their busiest loops.
#if defined(__GNUC__)
#define SCORE2WAV_NOINLINE __attribute__((noinline))
#else
#define SCORE2WAV_NOINLINE
#endif

namespace textScan {

constexpr std::size_t window = 16;      // bytes looked at in one step
constexpr std::size_t wideWindow = 32;  // the same, where the processor has AVX2

// What each byte of a window (of either width) is; bit i stands for byte i.
struct Masks {
  unsigned octave = 0;      // '0'..'3'
  unsigned letter = 0;      // a degree letter, either case
  unsigned accidental = 0;  // 'b', 'B' or '#'
  unsigned blank = 0;       // space, tab, LF
  unsigned lineFeed = 0;
  unsigned bar = 0;
  unsigned carriage = 0;  // CR: a blank with its LF, else skipped text
  unsigned outside = 0;   // the accidental of a 0db or a 3t#, whose pitch the table lacks
};

// Returns the bits below bit count (count <= wideWindow).
inline unsigned below(unsigned count) {
  return static_cast<unsigned>((std::uint64_t{1} << count) - 1u);
}

inline unsigned lowestBit(unsigned bits) { return static_cast<unsigned>(__builtin_ctz(bits)); }
inline unsigned highestBit(unsigned bits) {
  return 31u - static_cast<unsigned>(__builtin_clz(bits));
}
// Returns the bits set in a window's mask, a byte of it at a time from a
// table (the processors the program is built for need not count bits
// themselves, and a mask holds few).
struct BitCounts {
  unsigned char of[256];
  constexpr BitCounts() : of() {
    for (int i = 1; i < 256; ++i) of[i] = static_cast<unsigned char>((i & 1) + of[i / 2]);
  }
};
inline constexpr BitCounts bitCounts;
// (A wide window's are counted by the processor: only code built for it
// counts them.)
template <std::size_t W = window>
inline unsigned bitCount(unsigned bits) {
  static_assert(W == 16 || W == 32, "a window's masks are 16 or 32 bits");
#if SCORE2WAV_AVX2_KERNEL
  if (W > 16) return static_cast<unsigned>(__builtin_popcount(bits));
#endif
  unsigned count = bitCounts.of[bits & 0xFFu] + bitCounts.of[(bits >> 8) & 0xFFu];
  if (W > 16) count += bitCounts.of[(bits >> 16) & 0xFFu] + bitCounts.of[bits >> 24];
  return count;
}

// The octave characters are the bytes that one mask and compare find: a
// power-of-two count of them from a multiple of that count.
constexpr unsigned char octaveMask = static_cast<unsigned char>(~(scoreFormat::octaveCount - 1));
static_assert((scoreFormat::octaveCount & (scoreFormat::octaveCount - 1)) == 0 &&
                  (scoreFormat::firstOctave & ~octaveMask) == 0,
              "the octave characters are found with one mask");
constexpr unsigned char lastOctave = scoreFormat::firstOctave + scoreFormat::octaveCount - 1;

// Returns the bits of the accidentals whose pitch lies just outside the
// table, the lowest note flat and the highest sharp, from the bits of the
// lowest octave, the lowest letter, flats, the highest octave, the highest
// letter and sharps (masks of any width).
template <typename Bits>
inline Bits outsideOf(Bits zero, Bits dee, Bits flat, Bits three, Bits tee, Bits sharp) {
  return ((zero << 2) & (dee << 1) & flat) | ((three << 2) & (tee << 1) & sharp);
}

// Returns the length of the plain note text that opens the window: whole
// tokens (an octave character, a degree letter, and an accidental right
// after it if any, with a pitch in the table) and separators between them
// (blanks, and bars where the caller takes bars too). It ends at the
// window's last octave character (whose token the window may cut) or at
// the first byte that is neither; where that is a CR (of a CR LF, a blank
// after which an accidental may still join the last token) it ends before
// the last token, or just after the last bar. 0 if there is none, or if
// the window's opening bytes are not such text. letters receives its
// letters: each one note.
template <std::size_t W = window>
inline unsigned plainTokens(const Masks& m, unsigned separators, unsigned& letters) {
  unsigned plain = m.octave | m.letter | m.accidental | separators;
  unsigned other = ~plain & below(W);
  unsigned cut = other != 0 ? lowestBit(other) : W;
  if (m.octave == 0) return 0;
  if (highestBit(m.octave) < cut) cut = highestBit(m.octave);
  if ((m.carriage >> cut) & 1u) {
    unsigned before = m.octave & below(cut);
    unsigned bars = m.bar & separators & below(cut);
    unsigned tokenStart = before != 0 ? highestBit(before) : 0;
    unsigned afterBar = bars != 0 ? highestBit(bars) + 1 : 0;
    cut = tokenStart > afterBar ? tokenStart : afterBar;
  }
  unsigned octave = m.octave & below(cut);
  unsigned letter = m.letter & below(cut);
  unsigned accidental = m.accidental & below(cut);
  bool tokens = ((octave << 1) & ~m.letter) == 0 && (letter & ~(octave << 1)) == 0 &&
                (accidental & ~(letter << 1)) == 0 && (m.outside & below(cut)) == 0;
  if (cut == 0 || !tokens) return 0;
  letters = bitCount<W>(letter);
  return cut;
}

// True if the window's first byte that is no blank is an octave character:
// an octave and a letter that wait before it are then a note whatever else
// the window holds.
inline bool octaveFollows(const Masks& m) {
  unsigned nonBlank = ~m.blank & below(window);
  return nonBlank != 0 && ((m.octave >> lowestBit(nonBlank)) & 1u) != 0;
}

// True if plain note text may begin at the byte c: an octave, a blank, or a
// bar where the pass takes bars within plain text (bars). A letter or an
// accidental never does: it would need what waits before it.
inline bool beginsPlain(unsigned char c, bool bars) {
  return noteGrammar::table.classOf[c] < noteGrammar::letterClass || scoreFormat::isBlank(c) ||
         (bars && c == scoreFormat::bar);
}

// The pace of the tries at plain note text: in text that holds little of it
// (binary bytes, prose), a try that fails waits ever longer before the next.
struct Pace {
  std::int64_t nextTry = 0;  // file offset from which a try is made again
  std::int64_t wait = 16;    // bytes the next failure waits
};

inline bool mayTry(const Pace& pace, std::int64_t offset) { return offset >= pace.nextTry; }

inline void tried(Pace& pace, std::int64_t offset, bool took) {
  if (took) {
    pace.wait = 16;
    return;
  }
  pace.nextTry = offset + pace.wait;
  if (pace.wait < 4096) pace.wait *= 2;
}

// What the gate before a window lets through.
enum class Gate {
  closed,       // the window is not worth looking at now: leave its first byte to the step table
  open,         // nothing waits: the masks are the window's
  noteSettled,  // an octave and a letter waited, and the window shows them to be a note
};

// The gate both passes go through before a window at offset, whose first
// byte starts plain note text (plainStart, as each pass reads it): closed
// while the tries at plain text wait, or when a waiting octave and letter
// (waiting) are not shown to be a note; else classifies the window into m.
template <typename Kernel>
inline Gate passGate(const Pace& pace, std::int64_t offset, bool waiting, bool plainStart,
                     const unsigned char* bytes, Masks& m) {
  if (!waiting && plainStart && !mayTry(pace, offset)) return Gate::closed;
  m = Kernel::classify(bytes);
  if (!waiting) return Gate::open;
  return octaveFollows(m) ? Gate::noteSettled : Gate::closed;
}

}  // namespace textScan
