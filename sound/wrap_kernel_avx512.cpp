// The AVX-512 wrap kernel: a stretch's 128 samples are two vectors of 64
// byte lanes, and each pitch adds its notes under its two words of bits as
// masks; the bytes are summed along each eighth of a vector in three
// shifted additions, the eighths' totals along the vector in three more,
// and each eighth's start, spread over its samples, is added as they widen
// to words. A chord of few notes whose periods in a stretch fit a byte adds
// its notes' steps instead (the periods each began since the stretch began,
// a byte a sample): two vectors a note, and nothing to sum along the lanes.
#include <algorithm>

#include "sound/fixed_sum.h"
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

SCORE2WAV_AVX512 void countStepsAvx512(const WrapTerms& terms, std::size_t first,
                                       std::size_t stretches, std::uint16_t* wraps) {
  for (std::size_t s = 0; s < stretches; ++s) {
    const std::size_t at = (first + s) * wrapStretch;
    __m512i low = _mm512_setzero_si512();
    __m512i high = _mm512_setzero_si512();
    for (int i = 0; i < terms.count; ++i) {
      const __m512i* steps = reinterpret_cast<const __m512i*>(terms.steps[i] + at);
      const __m512i lower = _mm512_loadu_si512(steps);
      const __m512i upper = _mm512_loadu_si512(steps + 1);
      for (std::uint32_t note = 0; note < terms.times[i]; ++note) {
        low = _mm512_add_epi8(low, lower);
        high = _mm512_add_epi8(high, upper);
      }
    }
    std::uint16_t* out = wraps + s * wrapStretch;
    _mm512_storeu_si512(out, _mm512_cvtepu8_epi16(_mm512_castsi512_si256(low)));
    _mm512_storeu_si512(out + 32, _mm512_cvtepu8_epi16(_mm512_castsi512_si256(upperHalf(low))));
    _mm512_storeu_si512(out + 64, _mm512_cvtepu8_epi16(_mm512_castsi512_si256(high)));
    _mm512_storeu_si512(out + 96, _mm512_cvtepu8_epi16(_mm512_castsi512_si256(upperHalf(high))));
  }
}

SCORE2WAV_AVX512 std::uint32_t sumWrapSetAvx512(const std::uint16_t* wraps, const WrapLine& line,
                                                const WrapBlock& block, std::uint32_t* sums,
                                                unsigned char* out) {
  const __m512i whole = _mm512_set1_epi32(static_cast<int>(line.whole));
  const __m512i edge = _mm512_set1_epi32(static_cast<int>(line.edge));
  // Bytes packed from four vectors lie in each 128-bit lane a vector at a
  // time: this puts them back in order.
  const __m512i order = _mm512_set_epi32(15, 11, 7, 3, 14, 10, 6, 2, 13, 9, 5, 1, 12, 8, 4, 0);
  std::uint32_t unsureStretches = 0;
  for (std::size_t s = 0; s * wrapStretch < block.count; ++s) {
    const std::size_t from = s * wrapStretch;
    const std::size_t begin = s == 0 ? block.skip : 0;
    const std::size_t end = std::min(block.count - from, wrapStretch);
    const std::uint32_t start = wrapStart(line, block.base + from * line.step, block.begun[s]);
    if (begin != 0 || end != wrapStretch) {
      // A stretch cut short at a block's start or a chord's end.
      if (sumWrapStretch<0>(start, wraps + from, line, begin, end, sums + from, out + from)) {
        unsureStretches |= 1u << s;
      }
      continue;
    }
    const __m512i offset = _mm512_set1_epi32(static_cast<int>(start));
    // The least distance above a whole number (edge added), moved to the
    // top of the lanes: a sum is unsure where it is below twice the edge.
    __m512i nearest = _mm512_set1_epi32(-1);
    for (std::size_t k = 0; k < wrapStretch; k += 64) {
      __m512i v[4];
      for (std::size_t j = 0; j < 4; ++j) {
        const __m256i m =
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(wraps + from + k + 16 * j));
        const __m512i rises = _mm512_loadu_si512(line.rises + k + 16 * j);
        v[j] = _mm512_sub_epi32(_mm512_add_epi32(offset, rises),
                                _mm512_mullo_epi32(_mm512_cvtepu16_epi32(m), whole));
        nearest = _mm512_min_epu32(nearest, _mm512_slli_epi32(_mm512_add_epi32(v[j], edge), 9));
      }
      const int shift = fixedSum::fixedShift;
      const __m512i bytes = _mm512_packus_epi16(
          _mm512_packus_epi32(_mm512_srli_epi32(v[0], shift), _mm512_srli_epi32(v[1], shift)),
          _mm512_packus_epi32(_mm512_srli_epi32(v[2], shift), _mm512_srli_epi32(v[3], shift)));
      _mm512_storeu_si512(out + from + k, _mm512_permutexvar_epi32(order, bytes));
    }
    if (_mm512_reduce_min_epu32(nearest) >= (2 * line.edge) << 9) continue;
    unsureStretches |= 1u << s;
    sumWrapStretch<wrapStretch>(start, wraps + from, line, 0, wrapStretch, sums + from, out + from);
  }
  return unsureStretches;
}

#endif
