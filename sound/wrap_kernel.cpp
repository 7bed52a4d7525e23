#include "sound/wrap_kernel.h"

#include <algorithm>
#include <limits>

#include "base/cpu_features.h"
#include "sound/fixed_sum.h"
#include "sound/render_parts.h"

namespace {

// True if the processor has AVX2.
bool processorHasAvx2() {
#if SCORE2WAV_AVX2_WRAP_KERNEL
  return cpuFeatures().avx2;
#else
  return false;
#endif
}

// True if the processor has AVX-512 with byte and word lanes.
bool processorHasAvx512() {
#if SCORE2WAV_AVX512_KERNEL
  return cpuFeatures().avx512f && cpuFeatures().avx512bw;
#else
  return false;
#endif
}

#if SCORE2WAV_AVX512_KERNEL
// True if the processor has AVX-512 with its byte permutes.
bool processorHasAvx512Vbmi() { return processorHasAvx512() && cpuFeatures().avx512vbmi; }
#endif

// Adds each times at counts[k] for every bit k set in word.
inline void addSetBits(std::uint64_t word, std::uint32_t each, std::uint32_t* counts) {
  for (; word != 0; word &= word - 1) counts[__builtin_ctzll(word)] += each;
}

// countWrapsAvx512's scalar twin. Periods begin at about one sample in
// twelve of a pitch, so visiting the set bits beats looking at every one.
void countWrapsScalar(const WrapTerms& terms, std::size_t first, std::size_t stretches,
                      std::uint16_t* wraps) {
  for (std::size_t s = 0; s < stretches; ++s) {
    std::uint32_t counts[wrapStretch] = {};
    const std::size_t word = 2 * (first + s);
    for (int i = 0; i < terms.count; ++i) {
      const std::uint64_t* bits = terms.bits[i] + word;
      addSetBits(bits[0] & ~std::uint64_t{1}, terms.times[i], counts);
      addSetBits(bits[1], terms.times[i], counts + 64);
    }
    std::uint32_t sum = 0;
    for (std::size_t k = 0; k < wrapStretch; ++k) {
      sum += counts[k];
      wraps[s * wrapStretch + k] = static_cast<std::uint16_t>(sum);
    }
  }
}

// Sums count samples (at most a block, beginning a stretch) from the
// periods begun (begun: at each stretch's start; wraps: since), the line at
// the first being base, all but the first skip; returns the mask of the
// stretches that hold a sum near a whole number, whose sums it leaves in sums.
SCORE2WAV_ALWAYS_INLINE std::uint32_t sumWrapSetBody(const std::uint32_t* begun,
                                                     const std::uint16_t* wraps, std::size_t count,
                                                     std::size_t skip, const WrapLine& line,
                                                     std::uint64_t base, std::uint32_t* sums,
                                                     unsigned char* out) {
  std::uint32_t unsureStretches = 0;
  for (std::size_t s = 0; s * wrapStretch < count; ++s) {
    const std::size_t from = s * wrapStretch;
    const std::size_t begin = s == 0 ? skip : 0;
    const std::size_t end = std::min(count - from, wrapStretch);
    const std::uint32_t start = wrapStart(line, base + from * line.step, begun[s]);
    bool unsure =
        begin == 0 && end == wrapStretch
            ? sumWrapStretch<wrapStretch>(start, wraps + from, line, 0, wrapStretch, sums + from,
                                          out + from)
            : sumWrapStretch<0>(start, wraps + from, line, begin, end, sums + from, out + from);
    if (unsure) unsureStretches |= 1u << s;
  }
  return unsureStretches;
}
SCORE2WAV_TWINS(std::uint32_t, sumWrapSet,
                (const std::uint32_t* begun, const std::uint16_t* wraps, std::size_t count,
                 std::size_t skip, const WrapLine& line, std::uint64_t base, std::uint32_t* sums,
                 unsigned char* out),
                (begun, wraps, count, skip, line, base, sums, out))

// Stores the line's bytes of samples [begin, end) of a stretch at out
// (taken at its first sample), start being its line in half units: returns
// true if one may lie within the edge of a whole number. A loop the
// compiler takes in vectors.
SCORE2WAV_ALWAYS_INLINE bool lineStretchBody(const WrapLine& line, std::uint32_t start,
                                             std::size_t begin, std::size_t end,
                                             unsigned char* out) {
  const std::uint32_t lifted = start + 2 * line.edge;
  const auto topOffset = static_cast<std::uint16_t>((lifted >> 8) + 1);
  std::uint16_t least = 0xFFFF;  // of the upper 16 bits of the parts above a whole number, one more
  for (std::size_t k = begin; k < end; ++k) {
    out[k] = static_cast<std::uint8_t>((lifted + line.rises[k]) >> 24);
    const auto top = static_cast<std::uint16_t>(topOffset + (line.rises[k] >> 8));
    least = top < least ? top : least;
  }
  return least < line.nearTops;
}
SCORE2WAV_TWINS(bool, lineStretch,
                (const WrapLine& line, std::uint32_t start, std::size_t begin, std::size_t end,
                 unsigned char* out),
                (line, start, begin, end, out))

// Takes the notes' falls (from sample first of the chord) away from samples
// [skip, count) of a block at out, a pass a note.
SCORE2WAV_ALWAYS_INLINE void takeFallsBody(const WrapTerms& terms, std::size_t first,
                                           std::size_t skip, std::size_t count,
                                           unsigned char* out) {
  for (int i = 0; i < terms.count; ++i) {
    const std::uint8_t* falls = terms.falls[i] + first;
    for (std::uint32_t note = 0; note < terms.times[i]; ++note) {
      for (std::size_t k = skip; k < count; ++k)
        out[k] = static_cast<std::uint8_t>(out[k] - falls[k]);
    }
  }
}
SCORE2WAV_TWINS(void, takeFalls,
                (const WrapTerms& terms, std::size_t first, std::size_t skip, std::size_t count,
                 unsigned char* out),
                (terms, first, skip, count, out))

}  // namespace

const char* wrapKernelName(WrapKernel kernel) {
  switch (kernel) {
    case WrapKernel::scalar: return "scalar";
    case WrapKernel::avx2: return "avx2";
    case WrapKernel::avx512: return "avx512";
  }
  return "scalar";
}

bool wrapKernelAvailable(WrapKernel kernel) {
  switch (kernel) {
    case WrapKernel::scalar: return true;
    case WrapKernel::avx2: return processorHasAvx2();
    case WrapKernel::avx512: return processorHasAvx512();
  }
  return false;
}

WrapKernel chosenWrapKernel() {
  static const WrapKernel chosen = wrapKernelAvailable(WrapKernel::avx512) ? WrapKernel::avx512
                                   : wrapKernelAvailable(WrapKernel::avx2) ? WrapKernel::avx2
                                                                           : WrapKernel::scalar;
  return chosen;
}

std::int64_t wrapSumsFrom(WrapKernel kernel) {
  switch (kernel) {
    case WrapKernel::avx512: return 1;
    case WrapKernel::avx2: return 8;
    case WrapKernel::scalar: break;
  }
  return std::numeric_limits<std::int64_t>::max();
}

std::uint32_t sumFallBlock(WrapKernel kernel, const WrapTerms& terms, const WrapLine& line,
                           const WrapBlock& block, std::uint32_t* sums, unsigned char* out) {
#if SCORE2WAV_AVX512_KERNEL
  if (kernel == WrapKernel::avx512 && processorHasAvx512Vbmi()) {
    return sumFallBlockAvx512(terms, line, block, sums, out);
  }
#endif
  (void)kernel;
  std::uint32_t unsureStretches = 0;
  for (std::size_t s = 0; s * wrapStretch < block.count; ++s) {
    const FallStretch stretch = fallStretch(block, line, s);
    if (!lineStretch(line, stretch.start, stretch.begin, stretch.end, out + stretch.from)) continue;
    unsureStretches |= 1u << s;
    keepFallSums(stretch, line, sums);
  }
  takeFalls(terms, block.first, block.skip, block.count, out);
  return unsureStretches;
}

std::uint32_t sumWrapBlock(WrapKernel kernel, const WrapTerms& terms, const WrapLine& line,
                           const WrapBlock& block, std::uint32_t* sums, unsigned char* out) {
  std::uint16_t wraps[Renderer::blockSamples];
  std::size_t first = block.first / wrapStretch;
  std::size_t stretches = (block.count + wrapStretch - 1) / wrapStretch;
#if SCORE2WAV_AVX512_KERNEL
  if (kernel == WrapKernel::avx512) {
    if (terms.fewSteps) {
      countStepsAvx512(terms, first, stretches, wraps);
    } else {
      countWrapsAvx512(terms, first, stretches, wraps);
    }
    return sumWrapSetAvx512(wraps, line, block, sums, out);
  }
#endif
#if SCORE2WAV_AVX2_WRAP_KERNEL
  if (kernel == WrapKernel::avx2) {
    countWrapsAvx2(terms, first, stretches, wraps);
    return sumWrapSet(block.begun, wraps, block.count, block.skip, line, block.base, sums, out);
  }
#endif
  (void)kernel;
  countWrapsScalar(terms, first, stretches, wraps);
  return sumWrapSet(block.begun, wraps, block.count, block.skip, line, block.base, sums, out);
}
