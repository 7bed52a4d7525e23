// The kernels that count, for a chord, the periods its notes begin in each
// stretch of samples, one for each instruction set: a scalar twin in every
// build (wrap_kernel.cpp), which visits the bits that are set, and one in
// AVX-512 (wrap_kernel_avx512.cpp: the notes added 64 samples at a time
// under the bits as masks, x86-64 builds with GCC or clang). The renderer
// takes the best the processor has, chosen once; tests run each by name.
#pragma once

#include <cstddef>
#include <cstdint>

#include "score/score_format.h"

#if defined(__x86_64__) && defined(__GNUC__) && !defined(SCORE2WAV_NO_CLONES)
#define SCORE2WAV_AVX512_KERNEL 1
#else
#define SCORE2WAV_AVX512_KERNEL 0
#endif

// Samples in a stretch: a stretch of a pitch's wrap bits is two 64-bit words.
constexpr std::size_t wrapStretch = 128;

// A chord's distinct pitches, for the kernels.
struct WrapTerms {
  // A bit a sample of the chord (bit k % 64 of word k / 64), set where a
  // period of the pitch begins; whole stretches of them.
  const std::uint64_t* bits[scoreFormat::pitchCount];
  std::uint32_t times[scoreFormat::pitchCount];  // notes of the pitch (all of them at most 255)
  int count = 0;
};

enum class WrapKernel {
  scalar,  // the bits that are set, one at a time
  avx512,  // 64 samples at a time, the bits as masks
};

constexpr WrapKernel allWrapKernels[] = {WrapKernel::scalar, WrapKernel::avx512};

// Returns the kernel's name: "scalar" or "avx512".
const char* wrapKernelName(WrapKernel kernel);

// True if this build has the kernel and the processor running it can take it.
bool wrapKernelAvailable(WrapKernel kernel);

// Returns the best kernel available, chosen once.
WrapKernel chosenWrapKernel();

// Stores at wraps[s * wrapStretch + i], for each of the stretches from
// stretch first on (s counted from 0), how many of the chord's notes begin
// a period at samples 1 to i of the stretch (not at its first: the count
// of periods by then is the stretch's start). The kernel must be available.
void countWraps(WrapKernel kernel, const WrapTerms& terms, std::size_t first, std::size_t stretches,
                std::uint16_t* wraps);

#if SCORE2WAV_AVX512_KERNEL
void countWrapsAvx512(const WrapTerms& terms, std::size_t first, std::size_t stretches,
                      std::uint16_t* wraps);
#endif
