#include "sound/wrap_kernel.h"

namespace {

// True if the processor has AVX-512 with byte and word lanes (asked once).
bool processorHasAvx512() {
#if SCORE2WAV_AVX512_KERNEL
  static const bool has = (__builtin_cpu_init(), __builtin_cpu_supports("avx512f") != 0 &&
                                                     __builtin_cpu_supports("avx512bw") != 0);
  return has;
#else
  return false;
#endif
}

// Adds each times at counts[k] for every bit k set in word.
inline void addSetBits(std::uint64_t word, std::uint32_t each, std::uint32_t* counts) {
  for (; word != 0; word &= word - 1) counts[__builtin_ctzll(word)] += each;
}

// The scalar twin: periods begin at about one sample in twelve of a pitch,
// so visiting the set bits beats looking at every sample.
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

}  // namespace

const char* wrapKernelName(WrapKernel kernel) {
  return kernel == WrapKernel::avx512 ? "avx512" : "scalar";
}

bool wrapKernelAvailable(WrapKernel kernel) {
  return kernel == WrapKernel::scalar || processorHasAvx512();
}

WrapKernel chosenWrapKernel() {
  static const WrapKernel chosen =
      wrapKernelAvailable(WrapKernel::avx512) ? WrapKernel::avx512 : WrapKernel::scalar;
  return chosen;
}

void countWraps(WrapKernel kernel, const WrapTerms& terms, std::size_t first, std::size_t stretches,
                std::uint16_t* wraps) {
#if SCORE2WAV_AVX512_KERNEL
  if (kernel == WrapKernel::avx512) {
    countWrapsAvx512(terms, first, stretches, wraps);
    return;
  }
#else
  (void)kernel;
#endif
  countWrapsScalar(terms, first, stretches, wraps);
}
