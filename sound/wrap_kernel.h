// The kernels that count, for a chord, the periods its notes begin in each
// stretch of samples and sum its samples from them, one for each
// instruction set: a scalar twin in every build (wrap_kernel.cpp), which
// visits the bits that are set; one in AVX2 (wrap_kernel_avx2.cpp: 32
// samples at a time, each lane testing its bit) and one in AVX-512
// (wrap_kernel_avx512.cpp: 64 at a time under the bits as masks), in x86-64
// ELF builds with GCC or clang, not where the stack cannot be aligned for
// their vectors, as on Windows. The renderer takes the best the processor
// has, chosen once, and the wrap sums only with a vector kernel; tests run
// each kernel by name. Chords whose fall (2 g) is whole take their notes'
// falls in bytes instead (sumFallBlock), with any kernel: in AVX-512 where
// the processor has VBMI (wrap_falls_avx512.cpp), else the scalar twin.
#pragma once

#include <cstddef>
#include <cstdint>

#include "score/score_format.h"
#include "sound/fixed_sum.h"

#if defined(__x86_64__) && defined(__GNUC__) && defined(__ELF__) && !defined(SCORE2WAV_NO_CLONES)
#define SCORE2WAV_AVX512_KERNEL 1
#define SCORE2WAV_AVX2_WRAP_KERNEL 1
#else
#define SCORE2WAV_AVX512_KERNEL 0
#define SCORE2WAV_AVX2_WRAP_KERNEL 0
#endif

// Samples in a stretch: a stretch of a pitch's wrap bits is two 64-bit words.
constexpr std::size_t wrapStretch = 128;

// A chord's distinct pitches, for the kernels.
struct WrapTerms {
  // A bit a sample of the chord (bit k % 64 of word k / 64), set where a
  // period of the pitch begins; whole stretches of them.
  const std::uint64_t* bits[scoreFormat::pitchCount];
  // The periods begun since the sample's stretch began, a byte a sample.
  const std::uint8_t* steps[scoreFormat::pitchCount];
  // Where the chord's fall is whole (WrapLine::fall): 2 g times the
  // periods begun by each sample, mod 256, a byte a sample of the chord.
  const std::uint8_t* falls[scoreFormat::pitchCount];
  std::uint32_t times[scoreFormat::pitchCount];  // notes of the pitch (all of them at most 127)
  int count = 0;
  // True if the notes' steps may be added in bytes: their most in a
  // stretch stays within one, and the notes are few enough to add them
  // one by one (the AVX-512 kernel then adds them rather than the bits;
  // in AVX2, which sums only chords of eight notes or more, that did not pay).
  bool fewSteps = false;
};

// One chord's line and product, in fixed point (the bound is beside the
// renderer's wrap sums, sum_wraps.cpp).
struct WrapLine {
  std::uint64_t start = 0;         // (128 - g n) at the chord's first sample, units of 2^-55
  std::uint64_t step = 0;          // g T h: the rise a sample, units of 2^-55
  std::uint64_t twice = 0;         // 2 g in units of 2^-39 (2^-16 of a unit)
  std::uint32_t whole = 0;         // 2 g in units, rounded
  std::uint32_t edge = 0;          // units within which a sum may name the wrong sample
  std::uint64_t stretchWraps = 0;  // the most periods the notes begin within a stretch
  std::uint32_t fall = 0;          // 2 g where it is a whole number below 256, else 0
  // Where the fall is whole: a sample may be unsure where bits 8 to 23 of
  // its line (in half units, edge added), plus one, modulo 2^16, fall below
  // this; they may be one less than the line's own, which it allows for.
  std::uint32_t nearTops = 0;
  // j steps' whole units (half units where the fall is whole), for j in a stretch
  std::uint32_t rises[wrapStretch];
};

// A block of a chord's samples, for the kernels.
struct WrapBlock {
  std::size_t first = 0;                 // its first sample in the chord: a stretch's first
  std::size_t count = 0;                 // samples, at most Renderer::blockSamples
  std::size_t skip = 0;                  // samples at its start left as they are
  const std::uint32_t* begun = nullptr;  // the periods begun where each of its stretches begins
  std::uint64_t base = 0;                // the line at its first sample
};

// Returns a stretch's line less 2 g M0 at its first sample, in whole
// units: level being the line there (units of 2^-55) and begun M0.
inline std::uint32_t wrapStart(const WrapLine& line, std::uint64_t level, std::uint32_t begun) {
  return static_cast<std::uint32_t>(level >> 32) -
         static_cast<std::uint32_t>((line.twice * begun) >> 16);
}

// Sums samples [begin, end) of a stretch (wraps, sums and out taken at its
// first sample; N samples if N, then all of them), start being wrapStart:
// stores their bytes in out, and returns true if one lies within the edge
// of a whole number, storing their sums then. Both kernels' way for a
// stretch the vectors do not take whole.
template <std::size_t N>
inline bool sumWrapStretch(std::uint32_t start, const std::uint16_t* wraps, const WrapLine& line,
                           std::size_t begin, std::size_t end, std::uint32_t* sums,
                           unsigned char* out) {
  using namespace fixedSum;
  const std::size_t first = N > 0 ? 0 : begin;
  const std::size_t last = N > 0 ? N : end;
  std::uint32_t nearest = ~0u;  // the least distance above a whole number, edge added
  for (std::size_t k = first; k < last; ++k) {
    std::uint32_t v = (start + line.rises[k]) - line.whole * wraps[k];
    out[k] = static_cast<unsigned char>(v >> fixedShift);
    nearest =
        nearest < ((v + line.edge) & (fixedOne - 1)) ? nearest : ((v + line.edge) & (fixedOne - 1));
  }
  if (nearest >= 2 * line.edge) return false;
  for (std::size_t k = first; k < last; ++k)
    sums[k] = (start + line.rises[k]) - line.whole * wraps[k];
  return true;
}

// A stretch of a block whose fall is whole: its first sample in the block,
// the samples of it summed, [begin, end), and its line in half units.
struct FallStretch {
  std::size_t from = 0;
  std::size_t begin = 0;
  std::size_t end = 0;
  std::uint32_t start = 0;
};

// Returns the block's stretch s.
inline FallStretch fallStretch(const WrapBlock& block, const WrapLine& line, std::size_t s) {
  FallStretch stretch;
  stretch.from = s * wrapStretch;
  stretch.begin = s == 0 ? block.skip : 0;
  stretch.end = block.count - stretch.from < wrapStretch ? block.count - stretch.from : wrapStretch;
  stretch.start = static_cast<std::uint32_t>((block.base + stretch.from * line.step) >> 31);
  return stretch;
}

// Stores the sums of a stretch whose fall is whole (its line's, in units
// of 2^-23) at sums, taken at the block's first sample.
inline void keepFallSums(const FallStretch& stretch, const WrapLine& line, std::uint32_t* sums) {
  for (std::size_t k = stretch.begin; k < stretch.end; ++k) {
    sums[stretch.from + k] = (stretch.start + line.rises[k]) >> 1;
  }
}

enum class WrapKernel {
  scalar,  // the bits that are set, one at a time
  avx2,    // 32 samples at a time, each lane testing its bit
  avx512,  // 64 samples at a time, the bits as masks
};

constexpr WrapKernel allWrapKernels[] = {WrapKernel::scalar, WrapKernel::avx2, WrapKernel::avx512};

// Returns the kernel's name: "scalar", "avx2" or "avx512".
const char* wrapKernelName(WrapKernel kernel);

// True if this build has the kernel and the processor running it can take it.
bool wrapKernelAvailable(WrapKernel kernel);

// Returns the best kernel available, chosen once.
WrapKernel chosenWrapKernel();

// Returns the fewest notes of a chord that the wrap sums with this kernel
// beat the fixed rows at (on the all-different hours of bench/thick_chords.py):
// every chord in AVX-512, eight notes in AVX2 (where three notes took 12% more
// time and six the same), none with the scalar twin (twice the time).
std::int64_t wrapSumsFrom(WrapKernel kernel);

// Sums a block's samples into out[0..count) but the skipped: the line less
// 2 g M, M being the periods begun where a stretch began and the notes'
// periods begun since. Returns the mask of the block's stretches that hold a
// sum within the edge of a whole number, whose sums it leaves in sums (a
// bit a stretch). The kernel must be available.
std::uint32_t sumWrapBlock(WrapKernel kernel, const WrapTerms& terms, const WrapLine& line,
                           const WrapBlock& block, std::uint32_t* sums, unsigned char* out);

// Where the line's fall is whole, as sumWrapBlock: each sample is the
// line's whole part less the notes' falls, in bytes (mod 256), the line
// kept in half units (2^-24 of a sample: its top byte is then the sample's).
// A stretch is unsure where a line's part above a whole number, edge added,
// may lie below twice the edge (nearTops); its sums (the line's own, as the
// falls are whole) go to sums then.
// The AVX-512 kernel sums them where the processor has its byte permutes
// (VBMI); every other kernel, the scalar twin, whose loops the compiler
// takes in vectors.
std::uint32_t sumFallBlock(WrapKernel kernel, const WrapTerms& terms, const WrapLine& line,
                           const WrapBlock& block, std::uint32_t* sums, unsigned char* out);

#if SCORE2WAV_AVX2_WRAP_KERNEL
// countWrapsAvx512 in AVX2.
void countWrapsAvx2(const WrapTerms& terms, std::size_t first, std::size_t stretches,
                    std::uint16_t* wraps);
#endif

#if SCORE2WAV_AVX512_KERNEL
// Stores at wraps[s * wrapStretch + i], for each of the stretches from
// stretch first on (s counted from 0), how many of the chord's notes begin
// a period at samples 1 to i of the stretch (not at its first: the periods
// begun by then are the stretch's start).
void countWrapsAvx512(const WrapTerms& terms, std::size_t first, std::size_t stretches,
                      std::uint16_t* wraps);
// The same from the notes' steps, 64 samples at a time (terms.fewSteps).
void countStepsAvx512(const WrapTerms& terms, std::size_t first, std::size_t stretches,
                      std::uint16_t* wraps);
// Sums a block from the periods countWrapsAvx512 counted, as sumWrapBlock.
std::uint32_t sumWrapSetAvx512(const std::uint16_t* wraps, const WrapLine& line,
                               const WrapBlock& block, std::uint32_t* sums, unsigned char* out);
// sumFallBlock in AVX-512 with VBMI (wrap_falls_avx512.cpp).
std::uint32_t sumFallBlockAvx512(const WrapTerms& terms, const WrapLine& line,
                                 const WrapBlock& block, std::uint32_t* sums, unsigned char* out);
#endif
