// The AVX-512 wrap kernel: a stretch's 128 samples are two vectors of 64
// byte lanes, and each pitch adds its notes under its two words of bits as
// masks; the bytes are summed along each eighth of a vector in three
// shifted additions, the eighths' totals along the vector in three more,
// and each eighth's start, spread over its samples, is added as they widen
// to words.
#include "sound/wrap_kernel.h"

#if SCORE2WAV_AVX512_KERNEL
#include <immintrin.h>

// GCC 12 takes the undefined upper lanes inside its own AVX-512 headers for
// uninitialized values.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#define SCORE2WAV_AVX512 __attribute__((target("avx512f,avx512bw")))

namespace {

// Returns x's upper 256 bits in its lower half.
SCORE2WAV_AVX512 inline __m512i upperHalf(__m512i x) { return _mm512_shuffle_i64x2(x, x, 0xEE); }

// Returns bytes x summed along each eighth (64-bit lane): byte i of an
// eighth holds the sum of its bytes 0..i, which fits a byte (an eighth
// begins at most two periods of a pitch, and a chord has at most 127 notes).
SCORE2WAV_AVX512 inline __m512i eighthSums(__m512i x) {
  x = _mm512_add_epi8(x, _mm512_slli_epi64(x, 8));
  x = _mm512_add_epi8(x, _mm512_slli_epi64(x, 16));
  return _mm512_add_epi8(x, _mm512_slli_epi64(x, 32));
}

// Returns the 64-bit lanes of x summed along the vector (lane i: lanes 0..i).
SCORE2WAV_AVX512 inline __m512i laneSums(__m512i x) {
  const __m512i zero = _mm512_setzero_si512();
  x = _mm512_add_epi64(x, _mm512_alignr_epi64(x, zero, 7));
  x = _mm512_add_epi64(x, _mm512_alignr_epi64(x, zero, 6));
  return _mm512_add_epi64(x, _mm512_alignr_epi64(x, zero, 4));
}

}  // namespace

SCORE2WAV_AVX512 void countWrapsAvx512(const WrapTerms& terms, std::size_t first,
                                       std::size_t stretches, std::uint16_t* wraps) {
  // The word lanes that spread each eighth's starting count over its eight
  // samples: the low word of 64-bit lane i / 8, in the vector's lower or
  // upper half.
  const __m512i lowerEighths = _mm512_set_epi16(12, 12, 12, 12, 12, 12, 12, 12, 8, 8, 8, 8, 8, 8, 8,
                                                8, 4, 4, 4, 4, 4, 4, 4, 4, 0, 0, 0, 0, 0, 0, 0, 0);
  const __m512i upperEighths = _mm512_add_epi16(lowerEighths, _mm512_set1_epi16(16));
  const __m512i lastLane = _mm512_set1_epi64(7);
  for (std::size_t s = 0; s < stretches; ++s) {
    const std::size_t word = 2 * (first + s);
    __m512i low = _mm512_setzero_si512();
    __m512i high = _mm512_setzero_si512();
    for (int i = 0; i < terms.count; ++i) {
      const std::uint64_t* bits = terms.bits[i] + word;
      const __m512i each = _mm512_set1_epi8(static_cast<char>(terms.times[i]));
      low =
          _mm512_mask_add_epi8(low, static_cast<__mmask64>(bits[0] & ~std::uint64_t{1}), low, each);
      high = _mm512_mask_add_epi8(high, static_cast<__mmask64>(bits[1]), high, each);
    }
    // Sums within each eighth, then each eighth's start: the sums of the
    // eighths before it (their totals are their top bytes).
    low = eighthSums(low);
    high = eighthSums(high);
    const __m512i lowTotals = laneSums(_mm512_srli_epi64(low, 56));
    const __m512i highTotals = laneSums(_mm512_srli_epi64(high, 56));
    const __m512i lowStarts = _mm512_sub_epi64(lowTotals, _mm512_srli_epi64(low, 56));
    const __m512i highStarts =
        _mm512_add_epi64(_mm512_sub_epi64(highTotals, _mm512_srli_epi64(high, 56)),
                         _mm512_permutexvar_epi64(lastLane, lowTotals));
    const __m512i quarters[4] = {
        _mm512_add_epi16(_mm512_cvtepu8_epi16(_mm512_castsi512_si256(low)),
                         _mm512_permutexvar_epi16(lowerEighths, lowStarts)),
        _mm512_add_epi16(_mm512_cvtepu8_epi16(_mm512_castsi512_si256(upperHalf(low))),
                         _mm512_permutexvar_epi16(upperEighths, lowStarts)),
        _mm512_add_epi16(_mm512_cvtepu8_epi16(_mm512_castsi512_si256(high)),
                         _mm512_permutexvar_epi16(lowerEighths, highStarts)),
        _mm512_add_epi16(_mm512_cvtepu8_epi16(_mm512_castsi512_si256(upperHalf(high))),
                         _mm512_permutexvar_epi16(upperEighths, highStarts)),
    };
    for (std::size_t q = 0; q < 4; ++q) {
      _mm512_storeu_si512(wraps + s * wrapStretch + 32 * q, quarters[q]);
    }
  }
}

#endif
