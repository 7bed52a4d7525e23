// The AVX2 wrap kernel: a stretch's 128 samples are four vectors of 32 byte
// lanes. Each pitch's 32 bits for a vector are spread over its lanes (every
// byte of the word to eight lanes, each lane testing its own bit) and its
// notes added where they are set; the bytes are summed along each eighth
// of a vector in three shifted additions, the eighths' totals along the
// stretch, and each eighth's start is added as the bytes widen to words.
// The sums of the samples are the twin's, which the compiler vectorizes.
#include "sound/wrap_kernel.h"

#if SCORE2WAV_AVX2_WRAP_KERNEL
#include <immintrin.h>

#define SCORE2WAV_AVX2 __attribute__((target("avx2")))

namespace {

// Returns bytes x summed along each eighth (64-bit lane): byte i of an
// eighth holds the sum of its bytes 0..i (at most 254: see wrap_kernel.h).
SCORE2WAV_AVX2 inline __m256i eighthSums(__m256i x) {
  x = _mm256_add_epi8(x, _mm256_slli_epi64(x, 8));
  x = _mm256_add_epi8(x, _mm256_slli_epi64(x, 16));
  return _mm256_add_epi8(x, _mm256_slli_epi64(x, 32));
}

// Returns the 64-bit lanes of x summed along the vector (lane i: lanes 0..i).
SCORE2WAV_AVX2 inline __m256i laneSums(__m256i x) {
  const __m256i zero = _mm256_setzero_si256();
  // Lanes moved up by one and by two, zeros coming in.
  x = _mm256_add_epi64(x, _mm256_blend_epi32(_mm256_permute4x64_epi64(x, 0x90), zero, 0x03));
  return _mm256_add_epi64(x, _mm256_blend_epi32(_mm256_permute4x64_epi64(x, 0x40), zero, 0x0F));
}

}  // namespace

SCORE2WAV_AVX2 void countWrapsAvx2(const WrapTerms& terms, std::size_t first, std::size_t stretches,
                                   std::uint16_t* wraps) {
  // Each lane's byte of the word (lane / 8), and the bit it tests.
  const __m256i spread = _mm256_set_epi8(3, 3, 3, 3, 3, 3, 3, 3, 2, 2, 2, 2, 2, 2, 2, 2, 1, 1, 1, 1,
                                         1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0);
  const __m256i bit = _mm256_set1_epi64x(static_cast<long long>(0x8040201008040201ull));
  // The words that spread an eighth's start over its eight samples, in the
  // lower and the upper half of a 16-sample vector (its eighths' low words).
  const __m256i starts = _mm256_set_epi8(9, 8, 9, 8, 9, 8, 9, 8, 9, 8, 9, 8, 9, 8, 9, 8, 1, 0, 1, 0,
                                         1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0);
  for (std::size_t s = 0; s < stretches; ++s) {
    const std::size_t word = 2 * (first + s);
    __m256i quarters[4] = {_mm256_setzero_si256(), _mm256_setzero_si256(), _mm256_setzero_si256(),
                           _mm256_setzero_si256()};
    for (int i = 0; i < terms.count; ++i) {
      const std::uint64_t* bits = terms.bits[i] + word;
      const std::uint64_t low = bits[0] & ~std::uint64_t{1};  // the stretch's first is counted
      const std::uint32_t parts[4] = {
          static_cast<std::uint32_t>(low), static_cast<std::uint32_t>(low >> 32),
          static_cast<std::uint32_t>(bits[1]), static_cast<std::uint32_t>(bits[1] >> 32)};
      const __m256i each = _mm256_set1_epi8(static_cast<char>(terms.times[i]));
      for (int q = 0; q < 4; ++q) {
        __m256i lanes = _mm256_shuffle_epi8(_mm256_set1_epi32(static_cast<int>(parts[q])), spread);
        lanes = _mm256_cmpeq_epi8(_mm256_and_si256(lanes, bit), bit);
        quarters[q] = _mm256_add_epi8(quarters[q], _mm256_and_si256(lanes, each));
      }
    }
    // Sums within each eighth, then each eighth's start: the eighths before
    // it in the stretch (their totals are their top bytes).
    __m256i carry = _mm256_setzero_si256();
    for (int q = 0; q < 4; ++q) {
      const __m256i sums = eighthSums(quarters[q]);
      const __m256i totals = _mm256_srli_epi64(sums, 56);
      const __m256i through = _mm256_add_epi64(laneSums(totals), carry);
      const __m256i begun = _mm256_sub_epi64(through, totals);
      carry = _mm256_permute4x64_epi64(through, 0xFF);
      // Samples 0..15 of the quarter take eighths 0 and 1, 16..31 eighths 2 and 3.
      const __m256i lower = _mm256_permute4x64_epi64(begun, 0x50);  // eighths 0, 0, 1, 1
      const __m256i upper = _mm256_permute4x64_epi64(begun, 0xFA);  // eighths 2, 2, 3, 3
      const __m256i first16 = _mm256_add_epi16(_mm256_cvtepu8_epi16(_mm256_castsi256_si128(sums)),
                                               _mm256_shuffle_epi8(lower, starts));
      const __m256i last16 =
          _mm256_add_epi16(_mm256_cvtepu8_epi16(_mm256_extracti128_si256(sums, 1)),
                           _mm256_shuffle_epi8(upper, starts));
      std::uint16_t* out = wraps + s * wrapStretch + 32 * static_cast<std::size_t>(q);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), first16);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 16), last16);
    }
  }
}

#endif
