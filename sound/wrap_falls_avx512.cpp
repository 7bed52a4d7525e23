// The AVX-512 fall kernel: where a chord's fall (2 g) is a whole number,
// a sample is the whole part of its line less its notes' falls, and all of
// it can be taken modulo 256. Each 16 samples of the line are one vector:
// turned left by 9 bits, each lane holds the part above a whole number on
// top (their least, over a stretch, says whether one is unsure) and the
// whole units below, whose low bytes a byte permute (VBMI) gathers 64 at a
// time; the notes' falls are then taken away a byte a sample.
#include <algorithm>

#include "sound/render_parts.h"
#include "sound/wrap_kernel.h"

#if SCORE2WAV_AVX512_KERNEL
#include <immintrin.h>

// GCC 12 takes the undefined lanes inside its own AVX-512 headers for
// uninitialized values.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#define SCORE2WAV_AVX512_VBMI __attribute__((target("avx512f,avx512bw,avx512vbmi")))

namespace {

// Returns the bits of positions [begin, end) of 64, each at most 64.
inline std::uint64_t spanBits(std::size_t begin, std::size_t end) {
  const std::uint64_t all = ~std::uint64_t{0};
  return (end >= 64 ? all : (std::uint64_t{1} << end) - 1) &
         ~(begin >= 64 ? all : (std::uint64_t{1} << begin) - 1);
}

// Sums samples [begin, end) of a stretch (of them all if Whole) from sample
// at of the chord, out taken at its first and start being its line's whole
// units; returns true if one lies within the edge of a whole number.
template <bool Whole>
SCORE2WAV_AVX512_VBMI SCORE2WAV_ALWAYS_INLINE bool fallStretch(const WrapTerms& terms,
                                                               const WrapLine& line,
                                                               std::uint32_t start, std::size_t at,
                                                               std::size_t begin, std::size_t end,
                                                               unsigned char* out) {
  // Byte i of 32 from the low byte of lane i % 16 of the first vector (i
  // below 16) or of the second; the upper 32 bytes the same.
  const __m512i lowBytes = _mm512_set_epi8(
      124, 120, 116, 112, 108, 104, 100, 96, 92, 88, 84, 80, 76, 72, 68, 64, 60, 56, 52, 48, 44, 40,
      36, 32, 28, 24, 20, 16, 12, 8, 4, 0, 124, 120, 116, 112, 108, 104, 100, 96, 92, 88, 84, 80,
      76, 72, 68, 64, 60, 56, 52, 48, 44, 40, 36, 32, 28, 24, 20, 16, 12, 8, 4, 0);
  const __m512i offset = _mm512_set1_epi32(static_cast<int>(start + line.edge));
  __m512i nearest = _mm512_set1_epi32(-1);
  __m512i bytes[2];
  std::uint64_t live[2];  // the samples of each half summed
  for (std::size_t half = 0; half < 2; ++half) {
    const std::size_t k = 64 * half;
    live[half] =
        Whole ? ~std::uint64_t{0} : spanBits(begin > k ? begin - k : 0, end > k ? end - k : 0);
    __m512i turned[4];
    for (std::size_t j = 0; j < 4; ++j) {
      const __m512i rises = _mm512_loadu_si512(line.rises + k + 16 * j);
      turned[j] = _mm512_rol_epi32(_mm512_add_epi32(offset, rises), 9);
      if (Whole) {
        nearest = _mm512_min_epu32(nearest, turned[j]);
      } else {
        const auto lanes = static_cast<__mmask16>(live[half] >> (16 * j));
        nearest = _mm512_mask_min_epu32(nearest, lanes, nearest, turned[j]);
      }
    }
    bytes[half] =
        _mm512_mask_blend_epi64(0xF0, _mm512_permutex2var_epi8(turned[0], lowBytes, turned[1]),
                                _mm512_permutex2var_epi8(turned[2], lowBytes, turned[3]));
  }
  for (int i = 0; i < terms.count; ++i) {
    const std::uint8_t* falls = terms.falls[i] + at;
    const __m512i lower = _mm512_loadu_si512(falls);
    const __m512i upper = _mm512_loadu_si512(falls + 64);
    for (std::uint32_t note = 0; note < terms.times[i]; ++note) {
      bytes[0] = _mm512_sub_epi8(bytes[0], lower);
      bytes[1] = _mm512_sub_epi8(bytes[1], upper);
    }
  }
  for (std::size_t half = 0; half < 2; ++half) {
    if (Whole) {
      _mm512_storeu_si512(out + 64 * half, bytes[half]);
    } else {
      _mm512_mask_storeu_epi8(out + 64 * half, live[half], bytes[half]);
    }
  }
  const __m512i least = _mm512_set1_epi32(static_cast<int>((2 * line.edge) << 9));
  return _mm512_cmplt_epu32_mask(nearest, least) != 0;
}

}  // namespace

SCORE2WAV_AVX512_VBMI std::uint32_t sumFallBlockAvx512(const WrapTerms& terms, const WrapLine& line,
                                                       const WrapBlock& block, std::uint32_t* sums,
                                                       unsigned char* out) {
  std::uint32_t unsureStretches = 0;
  for (std::size_t s = 0; s * wrapStretch < block.count; ++s) {
    const std::size_t from = s * wrapStretch;
    const std::size_t begin = s == 0 ? block.skip : 0;
    const std::size_t end = std::min(block.count - from, wrapStretch);
    const auto start = static_cast<std::uint32_t>((block.base + from * line.step) >> 32);
    const std::size_t at = block.first + from;
    const bool unsure = begin == 0 && end == wrapStretch
                            ? fallStretch<true>(terms, line, start, at, 0, wrapStretch, out + from)
                            : fallStretch<false>(terms, line, start, at, begin, end, out + from);
    if (!unsure) continue;
    unsureStretches |= 1u << s;
    for (std::size_t k = begin; k < end; ++k) sums[from + k] = start + line.rises[k];
  }
  return unsureStretches;
}

#endif
