// Chord text sixteen bytes at a time, for both passes (32 or 64 where the
// processor has AVX2): the masks of a window's bytes, and the stretches a
// pass may take in one step while no character waits to begin a note. Such
// a stretch gives what the note grammar's step table would, byte for byte;
// everything else is left to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Windows of 32 bytes where the processor has AVX2 (and POPCNT, which
// every such processor has), asked when the program runs; the scalar
// twins' build has none.
#if defined(__SSE2__) && defined(__x86_64__) && defined(__GNUC__) && !defined(SCORE2WAV_NO_CLONES)
#include <immintrin.h>
#define SCORE2WAV_WIDE_WINDOWS 1
#define SCORE2WAV_WIDE __attribute__((target("avx2,popcnt")))
#endif

#include "score/note_grammar.h"
#include "score/score_format.h"

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
#if defined(SCORE2WAV_WIDE_WINDOWS)
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

// Returns the masks of the window at bytes (window bytes must be readable).
inline Masks classify(const unsigned char* bytes) {
  Masks m;
#if defined(__SSE2__)
  // Each mask is gathered in the vector and taken out once: taking out a
  // mask costs as much as a compare.
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
  const __m128i lower =
      _mm_or_si128(v, _mm_set1_epi8(0x20));  // a letter's lower case, and no other byte's
  auto is = [](__m128i x, unsigned char c) {
    return _mm_cmpeq_epi8(x, _mm_set1_epi8(static_cast<char>(c)));
  };
  auto bits = [](__m128i x) { return static_cast<unsigned>(_mm_movemask_epi8(x)); };
  __m128i letter = is(lower, scoreFormat::lowestLetter);
  for (int i = 1; i < scoreFormat::letterCount; ++i) {
    letter =
        _mm_or_si128(letter, is(lower, static_cast<unsigned char>(scoreFormat::noteLetters[i])));
  }
  const __m128i flat = is(lower, scoreFormat::flat);
  const __m128i sharp = is(v, scoreFormat::sharp);
  const __m128i lineFeed = is(v, '\n');
  // The pitches just outside the table: the lowest note flat, the highest
  // sharp (a byte shift moves each byte's answer to the byte after it).
  const __m128i lowFlat =
      _mm_and_si128(_mm_and_si128(_mm_slli_si128(is(v, scoreFormat::firstOctave), 2),
                                  _mm_slli_si128(is(lower, scoreFormat::lowestLetter), 1)),
                    flat);
  const __m128i highSharp =
      _mm_and_si128(_mm_and_si128(_mm_slli_si128(is(v, lastOctave), 2),
                                  _mm_slli_si128(is(lower, scoreFormat::highestLetter), 1)),
                    sharp);
  m.octave = bits(
      is(_mm_and_si128(v, _mm_set1_epi8(static_cast<char>(octaveMask))), scoreFormat::firstOctave));
  m.letter = bits(letter);
  m.accidental = bits(_mm_or_si128(flat, sharp));
  m.lineFeed = bits(lineFeed);
  m.blank = bits(_mm_or_si128(_mm_or_si128(is(v, ' '), is(v, '\t')), lineFeed));
  m.bar = bits(is(v, scoreFormat::bar));
  m.carriage = bits(is(v, '\r'));
  m.outside = bits(_mm_or_si128(lowFlat, highSharp));
#else
  unsigned zero = 0;
  unsigned three = 0;
  unsigned dee = 0;
  unsigned tee = 0;
  unsigned flat = 0;
  unsigned sharp = 0;
  for (unsigned i = 0; i < window; ++i) {
    unsigned char c = scoreFormat::foldCase(bytes[i]);
    unsigned bit = 1u << i;
    int charClass = noteGrammar::table.classOf[c];
    if (charClass < noteGrammar::letterClass) m.octave |= bit;
    if (noteGrammar::isLetter(charClass)) m.letter |= bit;
    if (c == scoreFormat::flat) flat |= bit;
    if (c == scoreFormat::sharp) sharp |= bit;
    if (scoreFormat::isBlank(c)) m.blank |= bit;
    if (c == '\n') m.lineFeed |= bit;
    if (c == scoreFormat::bar) m.bar |= bit;
    if (c == '\r') m.carriage |= bit;
    if (c == scoreFormat::firstOctave) zero |= bit;
    if (c == lastOctave) three |= bit;
    if (c == scoreFormat::lowestLetter) dee |= bit;
    if (c == scoreFormat::highestLetter) tee |= bit;
  }
  m.accidental = flat | sharp;
  m.outside = outsideOf(zero, dee, flat, three, tee, sharp);
#endif
  return m;
}

// Returns how many of the bytes from at (end - at >= window) come before
// the first octave character, note letter or bar, sixteen at a time: the
// bytes the pre-scan need not look at (a score may hold gigabytes of them).
inline std::size_t inertLength(const unsigned char* at, const unsigned char* end) {
  const unsigned char* start = at;
#if defined(__SSE2__)
  for (; end - at >= static_cast<std::ptrdiff_t>(window); at += window) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    const __m128i lower = _mm_or_si128(v, _mm_set1_epi8(0x20));
    __m128i live = _mm_cmpeq_epi8(_mm_and_si128(v, _mm_set1_epi8(static_cast<char>(octaveMask))),
                                  _mm_set1_epi8(static_cast<char>(scoreFormat::firstOctave)));
    for (int letter = 0; letter < scoreFormat::letterCount; ++letter) {
      live = _mm_or_si128(live,
                          _mm_cmpeq_epi8(lower, _mm_set1_epi8(scoreFormat::noteLetters[letter])));
    }
    live =
        _mm_or_si128(live, _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(scoreFormat::bar))));
    unsigned bits = static_cast<unsigned>(_mm_movemask_epi8(live));
    if (bits != 0) return static_cast<std::size_t>(at - start) + lowestBit(bits);
  }
#else
  static_cast<void>(end);
#endif
  return static_cast<std::size_t>(at - start);
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

#if defined(SCORE2WAV_WIDE_WINDOWS)
// True if the processor running the program has AVX2 and POPCNT, for wide
// windows (asked once).
inline bool wideWindowsAvailable() {
  static const bool wide = (__builtin_cpu_init(), __builtin_cpu_supports("avx2") != 0 &&
                                                      __builtin_cpu_supports("popcnt") != 0);
  return wide;
}

// Each byte value 32 times over, 32-byte aligned, kept where the compiler
// cannot see it: a wide window's constants are then loaded from memory
// with the compares that use them, not rebuilt in registers at every
// window (GCC rebuilds them three instructions each).
extern const unsigned char (*const wideSplats)[wideWindow];

// Returns the byte c in each of 32 lanes.
SCORE2WAV_WIDE inline __m256i wideSplat(unsigned char c) {
  return _mm256_load_si256(reinterpret_cast<const __m256i*>(wideSplats[c]));
}

// Returns 0xFF in each lane where bytes holds c, else 0.
SCORE2WAV_WIDE inline __m256i wideIs(__m256i bytes, unsigned char c) {
  return _mm256_cmpeq_epi8(bytes, wideSplat(c));
}

// Returns the mask of the lanes of x whose top bit is set, bit i for lane i.
SCORE2WAV_WIDE inline unsigned wideBits(__m256i x) {
  return static_cast<unsigned>(_mm256_movemask_epi8(x));
}

// Returns the wide window v with its letters in lower case (and other
// bytes changed, none into a letter).
SCORE2WAV_WIDE inline __m256i wideLower(__m256i v) { return _mm256_or_si256(v, wideSplat(0x20)); }

// Returns 0xFF in the lanes of lower (a window in lower case) that hold a
// degree letter.
SCORE2WAV_WIDE inline __m256i wideLetters(__m256i lower) {
  __m256i letter = wideIs(lower, scoreFormat::lowestLetter);
  for (int i = 1; i < scoreFormat::letterCount; ++i) {
    letter = _mm256_or_si256(
        letter, wideIs(lower, static_cast<unsigned char>(scoreFormat::noteLetters[i])));
  }
  return letter;
}

// Returns 0xFF in the lanes of v that hold an octave character.
SCORE2WAV_WIDE inline __m256i wideOctaves(__m256i v) {
  return wideIs(_mm256_and_si256(v, wideSplat(octaveMask)), scoreFormat::firstOctave);
}

// Returns 0xFF in the lanes of v that hold a space or a tab, or an LF
// (whose lanes are lineFeed).
SCORE2WAV_WIDE inline __m256i wideBlanks(__m256i v, __m256i lineFeed) {
  return _mm256_or_si256(_mm256_or_si256(wideIs(v, ' '), wideIs(v, '\t')), lineFeed);
}

// Returns the masks of the wide window at bytes (wideWindow bytes must be
// readable), as classify would give them for 32 bytes.
SCORE2WAV_WIDE inline Masks classifyWide(const unsigned char* bytes) {
  Masks m;
  const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes));
  const __m256i lower = wideLower(v);
  const __m256i lineFeed = wideIs(v, '\n');
  unsigned flat = wideBits(wideIs(lower, scoreFormat::flat));
  unsigned sharp = wideBits(wideIs(v, scoreFormat::sharp));
  m.octave = wideBits(wideOctaves(v));
  m.letter = wideBits(wideLetters(lower));
  m.accidental = flat | sharp;
  m.lineFeed = wideBits(lineFeed);
  m.blank = wideBits(wideBlanks(v, lineFeed));
  m.bar = wideBits(wideIs(v, scoreFormat::bar));
  m.carriage = wideBits(wideIs(v, '\r'));
  // Across the window's two halves, from its masks.
  m.outside = outsideOf(wideBits(wideIs(v, scoreFormat::firstOctave)),
                        wideBits(wideIs(lower, scoreFormat::lowestLetter)), flat,
                        wideBits(wideIs(v, lastOctave)),
                        wideBits(wideIs(lower, scoreFormat::highestLetter)), sharp);
  return m;
}

// What a wide window of skipped text holds, bit i for byte i.
struct WideStops {
  unsigned stops = 0;  // octaves that may begin a note, and bars
  unsigned blanks = 0;
  unsigned lineFeeds = 0;
  unsigned carriages = 0;  // CRs
  unsigned letters = 0;
};

// Returns what the wide window v holds for a skip. An octave right before
// a byte that can neither go on with it nor begin anything (not a letter,
// octave, blank, bar or CR) begins no note: the note grammar skips both,
// as skipped text, so it is no stop.
SCORE2WAV_WIDE inline WideStops wideStops(__m256i v) {
  WideStops w;
  const __m256i lineFeed = wideIs(v, '\n');
  w.letters = wideBits(wideLetters(wideLower(v)));
  w.lineFeeds = wideBits(lineFeed);
  w.blanks = wideBits(wideBlanks(v, lineFeed));
  w.carriages = wideBits(wideIs(v, '\r'));
  unsigned octaves = wideBits(wideOctaves(v));
  unsigned bars = wideBits(wideIs(v, scoreFormat::bar));
  unsigned goesOn = w.letters | octaves | bars | w.blanks | w.carriages;
  unsigned dead = octaves & ~(goesOn >> 1) & below(wideWindow - 1);
  w.stops = (octaves & ~dead) | bars;
  return w;
}

// The masks of 32 bytes that plainRun needs, bit i for byte i.
struct RunMasks {
  unsigned plain = 0;  // octave, letter, accidental or blank (no bar, no CR)
  unsigned octave = 0;
  unsigned letter = 0;
  unsigned flat = 0;
  unsigned sharp = 0;
  unsigned zero = 0;  // the lowest octave, and the highest
  unsigned three = 0;
  unsigned dee = 0;  // the lowest letter, and the highest
  unsigned tee = 0;
};

// Returns the masks plainRun needs of the 32 bytes at bytes.
SCORE2WAV_WIDE inline RunMasks runMasks(const unsigned char* bytes) {
  RunMasks r;
  const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes));
  const __m256i lower = wideLower(v);
  const __m256i letter = wideLetters(lower);
  const __m256i flat = wideIs(lower, scoreFormat::flat);
  const __m256i sharp = wideIs(v, scoreFormat::sharp);
  const __m256i octave = wideOctaves(v);
  const __m256i blank = wideBlanks(v, wideIs(v, '\n'));
  r.plain = wideBits(_mm256_or_si256(_mm256_or_si256(_mm256_or_si256(octave, letter), blank),
                                     _mm256_or_si256(flat, sharp)));
  r.octave = wideBits(octave);
  r.letter = wideBits(letter);
  r.flat = wideBits(flat);
  r.sharp = wideBits(sharp);
  r.zero = wideBits(wideIs(v, scoreFormat::firstOctave));
  r.three = wideBits(wideIs(v, lastOctave));
  r.dee = wideBits(wideIs(lower, scoreFormat::lowestLetter));
  r.tee = wideBits(wideIs(lower, scoreFormat::highestLetter));
  return r;
}

// Plain note text that fills two wide windows, without a bar or a CR.
struct PlainRun {
  unsigned length = 0;       // bytes of whole tokens and blanks, up to the last octave
  std::uint64_t letter = 0;  // its letters: each one note
};

// Returns the plain run that the 64 bytes at bytes hold, as plainTokens
// would find it over so wide a window with blanks as the only separators;
// length 0 if the bytes hold anything but note text and blanks (a bar, a
// CR, any other byte) or no octave, or the tokens before their last octave
// are not whole, or one of them lies outside the pitch table.
SCORE2WAV_WIDE inline PlainRun plainRun(const unsigned char* bytes) {
  PlainRun run;
  const RunMasks low = runMasks(bytes);
  const RunMasks high = runMasks(bytes + wideWindow);
  auto join = [](unsigned a, unsigned b) { return a | (std::uint64_t{b} << 32); };
  if ((low.plain & high.plain) != ~0u) return run;
  std::uint64_t octave = join(low.octave, high.octave);
  if (octave == 0) return run;
  unsigned cut = 63u - static_cast<unsigned>(__builtin_clzll(octave));  // its token may go on
  std::uint64_t span = (std::uint64_t{1} << cut) - 1u;
  std::uint64_t letter = join(low.letter, high.letter) & span;
  std::uint64_t flat = join(low.flat, high.flat);
  std::uint64_t sharp = join(low.sharp, high.sharp);
  std::uint64_t outside = outsideOf(join(low.zero, high.zero), join(low.dee, high.dee), flat,
                                    join(low.three, high.three), join(low.tee, high.tee), sharp);
  // Every octave before the cut has its letter right after it, every letter
  // its octave right before it, every accidental its letter.
  bool whole = ((octave & span) << 1) == letter && ((flat | sharp) & span & ~(letter << 1)) == 0 &&
               (outside & span) == 0;
  if (!whole) return run;
  run.length = cut;
  run.letter = letter;
  return run;
}
#endif

// True if a pass that asks for wide windows (asked) can take them here.
inline bool takesWideWindows(bool asked) {
#if defined(SCORE2WAV_WIDE_WINDOWS)
  return asked && wideWindowsAvailable();
#else
  static_cast<void>(asked);
  return false;
#endif
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
inline Gate passGate(const Pace& pace, std::int64_t offset, bool waiting, bool plainStart,
                     const unsigned char* bytes, Masks& m) {
  if (!waiting && plainStart && !mayTry(pace, offset)) return Gate::closed;
  m = classify(bytes);
  if (!waiting) return Gate::open;
  return octaveFollows(m) ? Gate::noteSettled : Gate::closed;
}

}  // namespace textScan
