// The SSE2 kernel: the window steps of both passes sixteen bytes at a
// time in SSE2 (every x86-64 processor has it, and Emscripten maps it onto
// WebAssembly's SIMD), where the compiler builds for SSE2.
#pragma once

#if defined(__SSE2__)
#include <emmintrin.h>

#include <cstddef>

#include "score/score_format.h"
#include "score/text_scan.h"

namespace textScan {

struct Sse2Kernel {
  // Returns the masks of the window at bytes (window bytes must be readable).
  static Masks classify(const unsigned char* bytes) {
    Masks m;
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
    m.octave = bits(is(_mm_and_si128(v, _mm_set1_epi8(static_cast<char>(octaveMask))),
                       scoreFormat::firstOctave));
    m.letter = bits(letter);
    m.accidental = bits(_mm_or_si128(flat, sharp));
    m.lineFeed = bits(lineFeed);
    m.blank = bits(_mm_or_si128(_mm_or_si128(is(v, ' '), is(v, '\t')), lineFeed));
    m.bar = bits(is(v, scoreFormat::bar));
    m.carriage = bits(is(v, '\r'));
    m.outside = bits(_mm_or_si128(lowFlat, highSharp));
    return m;
  }

  // Returns how many of the bytes from at (end - at >= window) come before
  // the first octave character, note letter or bar, sixteen at a time: the
  // bytes the pre-scan need not look at (a score may hold gigabytes of them).
  static std::size_t inertLength(const unsigned char* at, const unsigned char* end) {
    const unsigned char* start = at;
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
    return static_cast<std::size_t>(at - start);
  }

  // Copies a window's bytes to out, folded to lower case (A..Z only).
  static void foldWindow(char* out, const unsigned char* bytes) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
    __m128i upper = _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8('A' - 1)),
                                  _mm_cmplt_epi8(v, _mm_set1_epi8('Z' + 1)));
    v = _mm_add_epi8(v, _mm_and_si128(upper, _mm_set1_epi8(0x20)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
  }

  // Stores at pitches[i], for each byte i of the window that is a note's
  // letter in plain note text (its octave before it, its accidental, if any,
  // right after it), that note's pitch; other bytes get what they get. (Plain
  // text ends at the window's last octave, so no such letter is its last byte.)
  static void windowPitches(const unsigned char* bytes, unsigned char* pitches) {
    using scoreFormat::noteLetters;
    auto all = [](int c) { return _mm_set1_epi8(static_cast<char>(c)); };
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
    const __m128i lower = _mm_or_si128(v, all(0x20));
    const __m128i octave = _mm_sub_epi8(_mm_slli_si128(v, 1), all(scoreFormat::firstOctave));
    const __m128i twice = _mm_add_epi8(octave, octave);
    const __m128i four = _mm_add_epi8(twice, twice);
    __m128i pitch = _mm_add_epi8(_mm_add_epi8(four, four), four);  // the octave times 12
    for (int letter = 0; letter < scoreFormat::letterCount; ++letter) {
      const __m128i is = _mm_cmpeq_epi8(lower, all(noteLetters[letter]));
      pitch = _mm_add_epi8(
          pitch, _mm_and_si128(is, all(scoreFormat::semitoneOffset(
                                       static_cast<unsigned char>(noteLetters[letter])))));
    }
    const __m128i next = _mm_srli_si128(v, 1);
    pitch =
        _mm_add_epi8(pitch, _mm_and_si128(_mm_cmpeq_epi8(next, all(scoreFormat::sharp)), all(1)));
    pitch =
        _mm_add_epi8(pitch, _mm_cmpeq_epi8(_mm_or_si128(next, all(0x20)), all(scoreFormat::flat)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pitches), pitch);
  }

  // ScalarKernel::asciiUnits, sixteen units at a time.
  static std::size_t asciiUnits(const unsigned char* units, std::size_t count, bool little,
                                unsigned char* out) {
    const __m128i notAscii = _mm_set1_epi16(static_cast<short>(little ? 0xFF80 : 0x80FF));
    std::size_t taken = 0;
    for (; count - taken >= 16; taken += 16) {
      __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + 2 * taken));
      __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + 2 * taken + 16));
      const __m128i stray = _mm_and_si128(_mm_or_si128(low, high), notAscii);
      if (_mm_movemask_epi8(_mm_cmpeq_epi8(stray, _mm_setzero_si128())) != 0xFFFF) break;
      if (!little) {  // each unit's ASCII byte to the bottom of its 16 bits
        low = _mm_srli_epi16(low, 8);
        high = _mm_srli_epi16(high, 8);
      }
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + taken), _mm_packus_epi16(low, high));
    }
    return taken;
  }
};

}  // namespace textScan
#else
#include "score/text_kernel_scalar.h"

namespace textScan {
// A build without SSE2 (the scalar twins') has no SSE2 kernel: a reader
// that names it takes the scalar steps, and textKernelAvailable says no.
using Sse2Kernel = ScalarKernel;
}  // namespace textScan
#endif
