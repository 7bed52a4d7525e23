// The AVX2 kernel's steps, 32 bytes at a time (64 for a long chord's
// count): what both passes take where the processor has AVX2 and POPCNT,
// beside the SSE2 kernel's sixteen-byte steps. Only code built for the two
// (SCORE2WAV_WIDE) may call them; text_kernel.h says when there are any.
#pragma once

#include "score/text_kernel.h"

#if SCORE2WAV_AVX2_KERNEL
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "score/score_format.h"
#include "score/text_scan.h"

namespace textScan {

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

// ScalarKernel::asciiUnits, 32 units at a time (text_kernel_avx2.cpp).
std::size_t asciiUnitsWide(const unsigned char* units, std::size_t count, bool little,
                           unsigned char* out);

}  // namespace textScan
#endif
