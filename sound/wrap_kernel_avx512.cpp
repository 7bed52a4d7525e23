// The AVX-512 wrap kernel: a stretch's 128 samples are two vectors of 64
// byte lanes, and each pitch adds its notes under its two words of bits as
// masks; the bytes (at most 255 notes a sample) then widen to four vectors
// of 32 words, each summed along its lanes in five shifted additions.
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

// Returns x with every lane i holding the sum of lanes 0..i; shifts[d] moves
// lanes up by 2^d, and masks[d] keeps the lanes it fills.
SCORE2WAV_AVX512 inline __m512i runningSums(__m512i x, const __m512i* shifts,
                                            const __mmask32* masks) {
  for (int d = 0; d < 5; ++d) {
    x = _mm512_add_epi16(x, _mm512_maskz_permutexvar_epi16(masks[d], shifts[d], x));
  }
  return x;
}

// Returns x's upper 256 bits in its lower half.
SCORE2WAV_AVX512 inline __m512i upperHalf(__m512i x) { return _mm512_shuffle_i64x2(x, x, 0xEE); }

}  // namespace

SCORE2WAV_AVX512 void countWrapsAvx512(const WrapTerms& terms, std::size_t first,
                                       std::size_t stretches, std::uint16_t* wraps) {
  const __m512i lanes = _mm512_set_epi16(31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17,
                                         16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
  __m512i shifts[5];
  __mmask32 masks[5];
  for (int d = 0; d < 5; ++d) {
    shifts[d] = _mm512_sub_epi16(lanes, _mm512_set1_epi16(static_cast<short>(1 << d)));
    masks[d] = static_cast<__mmask32>(~0u << (1 << d));
  }
  const __m512i last = _mm512_set1_epi16(31);
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
    __m512i quarters[4] = {
        _mm512_cvtepu8_epi16(_mm512_castsi512_si256(low)),
        _mm512_cvtepu8_epi16(_mm512_castsi512_si256(upperHalf(low))),
        _mm512_cvtepu8_epi16(_mm512_castsi512_si256(high)),
        _mm512_cvtepu8_epi16(_mm512_castsi512_si256(upperHalf(high))),
    };
    __m512i carry = _mm512_setzero_si512();
    for (int q = 0; q < 4; ++q) {
      __m512i sums = _mm512_add_epi16(runningSums(quarters[q], shifts, masks), carry);
      _mm512_storeu_si512(wraps + s * wrapStretch + 32 * static_cast<std::size_t>(q), sums);
      carry = _mm512_permutexvar_epi16(last, sums);
    }
  }
}

#endif
