// The AVX-512 fall kernel: where a chord's fall (2 g) is a whole number,
// a sample is the whole part of its line less its notes' falls, and all of
// it can be taken modulo 256. Each 16 samples of the line are one vector
// in half units, whose top bytes are the line's whole part: a byte permute
// (VBMI) gathers them 64 at a time, and up to eight notes' falls are taken
// away while they are in registers; the upper 16 bits of the part above a
// whole number, 32 samples a vector, find an unsure one; the falls of any
// more notes are taken away in passes over the block, four a pass.
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

// A block's line where its vectors align: the rises, in half units, and
// their upper 16 bits of the part above a whole number.
struct AlignedLine {
  alignas(64) std::uint32_t rises[wrapStretch];
  alignas(64) std::uint16_t tops[wrapStretch];
};

// Stores the line's bytes of samples [begin, end) of a stretch (of them all
// if Whole), less the falls of the N notes whose rows are rows (each from
// the block's first sample), at out (taken at the stretch's first sample);
// start is the stretch's line in half units and at its first sample in
// the block. Returns true if one may lie within the edge of a whole number.
template <bool Whole, int N>
SCORE2WAV_AVX512_VBMI SCORE2WAV_ALWAYS_INLINE bool lineStretch(
    const WrapLine& line, const AlignedLine& aligned, std::uint32_t start,
    const std::uint8_t* const* rows, std::size_t at, std::size_t begin, std::size_t end,
    unsigned char* out) {
  // Byte i of 32 from the top byte of lane i % 16 of the first vector (i
  // below 16) or of the second; the upper 32 bytes the same.
  const __m512i topBytes = _mm512_set_epi8(
      127, 123, 119, 115, 111, 107, 103, 99, 95, 91, 87, 83, 79, 75, 71, 67, 63, 59, 55, 51, 47, 43,
      39, 35, 31, 27, 23, 19, 15, 11, 7, 3, 127, 123, 119, 115, 111, 107, 103, 99, 95, 91, 87, 83,
      79, 75, 71, 67, 63, 59, 55, 51, 47, 43, 39, 35, 31, 27, 23, 19, 15, 11, 7, 3);
  const std::uint32_t lifted = start + 2 * line.edge;
  const __m512i offset = _mm512_set1_epi32(static_cast<int>(lifted));
  for (std::size_t k = 0; k < wrapStretch; k += 64) {
    const std::uint64_t live =
        Whole ? ~std::uint64_t{0} : spanBits(begin > k ? begin - k : 0, end > k ? end - k : 0);
    __m512i v[4];
    for (std::size_t j = 0; j < 4; ++j) {
      v[j] = _mm512_add_epi32(offset, _mm512_load_si512(aligned.rises + k + 16 * j));
    }
    __m512i bytes = _mm512_mask_blend_epi64(0xF0, _mm512_permutex2var_epi8(v[0], topBytes, v[1]),
                                            _mm512_permutex2var_epi8(v[2], topBytes, v[3]));
    for (int i = 0; i < N; ++i) {
      bytes = _mm512_sub_epi8(bytes, _mm512_loadu_si512(rows[i] + at + k));
    }
    if (Whole) {
      _mm512_storeu_si512(out + k, bytes);
    } else {
      _mm512_mask_storeu_epi8(out + k, live, bytes);
    }
  }
  // The upper 16 bits of each part above a whole number, one more, within
  // one below: their least says if one may be near.
  const __m512i topOffset = _mm512_set1_epi16(static_cast<short>((lifted >> 8) + 1));
  __m512i least = _mm512_set1_epi16(-1);
  for (std::size_t k = 0; k < wrapStretch; k += 32) {
    const __m512i tops = _mm512_add_epi16(topOffset, _mm512_load_si512(aligned.tops + k));
    if (Whole) {
      least = _mm512_min_epu16(least, tops);
    } else {
      const auto lanes = static_cast<__mmask32>(
          spanBits(begin > k ? begin - k : 0, std::min<std::size_t>(end > k ? end - k : 0, 32)));
      least = _mm512_mask_min_epu16(least, lanes, least, tops);
    }
  }
  return _mm512_cmplt_epu16_mask(least, _mm512_set1_epi16(static_cast<short>(line.nearTops))) != 0;
}

// Returns bytes less the N rows' falls at k.
template <int N>
SCORE2WAV_AVX512_VBMI SCORE2WAV_ALWAYS_INLINE __m512i lessFalls(__m512i bytes,
                                                                const std::uint8_t* const* rows,
                                                                std::size_t k) {
  for (int i = 0; i < N; ++i) bytes = _mm512_sub_epi8(bytes, _mm512_loadu_si512(rows[i] + k));
  return bytes;
}

// Takes N notes' falls (a row each, from the block's first sample) away
// from samples [skip, count) of the block at out (the rows hold whole
// stretches, so whole vectors may be read).
template <int N>
SCORE2WAV_AVX512_VBMI void takeFalls(const std::uint8_t* const* rows, std::size_t skip,
                                     std::size_t count, unsigned char* out) {
  std::size_t k = 0;
  for (; k < count; k += 64) {
    if (k < skip || k + 64 > count) {  // the first vector, or the last
      const __mmask64 live =
          spanBits(skip > k ? skip - k : 0, std::min<std::size_t>(count - k, 64));
      const __m512i bytes = _mm512_maskz_loadu_epi8(live, out + k);
      _mm512_mask_storeu_epi8(out + k, live, lessFalls<N>(bytes, rows, k));
    } else {
      _mm512_storeu_si512(out + k, lessFalls<N>(_mm512_loadu_si512(out + k), rows, k));
    }
  }
}

// Takes the falls of the notes whose rows are rows[0..count) (each from
// the block's first sample) away from samples [skip, samples) of the block
// at out, four notes a pass.
SCORE2WAV_AVX512_VBMI void takeNotes(const std::uint8_t* const* rows, int count, std::size_t skip,
                                     std::size_t samples, unsigned char* out) {
  for (; count >= 4; rows += 4, count -= 4) takeFalls<4>(rows, skip, samples, out);
  switch (count) {
    case 1: takeFalls<1>(rows, skip, samples, out); break;
    case 2: takeFalls<2>(rows, skip, samples, out); break;
    case 3: takeFalls<3>(rows, skip, samples, out); break;
    default: break;
  }
}

// Sums a block's stretches from its line, less the falls of the N notes
// whose rows are rows; returns the mask of those that may hold a sample
// near a whole number.
template <int N>
SCORE2WAV_AVX512_VBMI std::uint32_t lineBlock(const WrapLine& line, const AlignedLine& aligned,
                                              const std::uint8_t* const* rows,
                                              const WrapBlock& block, unsigned char* out) {
  std::uint32_t unsureStretches = 0;
  for (std::size_t s = 0; s * wrapStretch < block.count; ++s) {
    const FallStretch stretch = fallStretch(block, line, s);
    const bool unsure =
        stretch.begin == 0 && stretch.end == wrapStretch
            ? lineStretch<true, N>(line, aligned, stretch.start, rows, stretch.from, 0, wrapStretch,
                                   out + stretch.from)
            : lineStretch<false, N>(line, aligned, stretch.start, rows, stretch.from, stretch.begin,
                                    stretch.end, out + stretch.from);
    if (unsure) unsureStretches |= 1u << s;
  }
  return unsureStretches;
}

}  // namespace

SCORE2WAV_AVX512_VBMI std::uint32_t sumFallBlockAvx512(const WrapTerms& terms, const WrapLine& line,
                                                       const WrapBlock& block, std::uint32_t* sums,
                                                       unsigned char* out) {
  AlignedLine aligned;
  for (std::size_t k = 0; k < wrapStretch; k += 16) {
    const __m512i rises = _mm512_loadu_si512(line.rises + k);
    _mm512_store_si512(aligned.rises + k, rises);
    _mm256_store_si256(reinterpret_cast<__m256i*>(aligned.tops + k),
                       _mm512_cvtepi32_epi16(_mm512_srli_epi32(rises, 8)));
  }
  // Each note's row, from the block's first sample (a chord that takes the
  // wrap sums has at most 127 notes): the line takes up to eight of them,
  // and passes over the block the rest, four at a time.
  const std::uint8_t* rows[128];
  int notes = 0;
  for (int i = 0; i < terms.count; ++i) {
    for (std::uint32_t note = 0; note < terms.times[i] && notes < 128; ++note) {
      rows[notes++] = terms.falls[i] + block.first;
    }
  }
  std::uint32_t unsureStretches = 0;
  switch (std::min(notes, 8)) {
    case 1: unsureStretches = lineBlock<1>(line, aligned, rows, block, out); break;
    case 2: unsureStretches = lineBlock<2>(line, aligned, rows, block, out); break;
    case 3: unsureStretches = lineBlock<3>(line, aligned, rows, block, out); break;
    case 4: unsureStretches = lineBlock<4>(line, aligned, rows, block, out); break;
    case 5: unsureStretches = lineBlock<5>(line, aligned, rows, block, out); break;
    case 6: unsureStretches = lineBlock<6>(line, aligned, rows, block, out); break;
    case 7: unsureStretches = lineBlock<7>(line, aligned, rows, block, out); break;
    default: unsureStretches = lineBlock<8>(line, aligned, rows, block, out); break;
  }
  if (notes > 8) takeNotes(rows + 8, notes - 8, block.skip, block.count, out);
  for (std::uint32_t marked = unsureStretches; marked != 0; marked &= marked - 1) {
    keepFallSums(fallStretch(block, line, static_cast<std::size_t>(__builtin_ctz(marked))), line,
                 sums);
  }
  return unsureStretches;
}

#endif
