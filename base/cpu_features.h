// What the processor running the program can take, asked once, and the way
// a function is built twice, for AVX2 and for the processors before it,
// with the program choosing between them as it runs.
#pragma once

// Where the vector twins are built: x86-64 with GCC or clang, but not in
// the scalar twins' build (SCORE2WAV_NO_CLONES), so that tests reach them.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(SCORE2WAV_NO_CLONES)
#define SCORE2WAV_AVX2_TWINS 1
#else
#define SCORE2WAV_AVX2_TWINS 0
#endif

// The processor's features the program's kernels take, each only where the
// system also keeps its registers across switches.
struct CpuFeatures {
  bool popcnt = false;
  bool avx2 = false;
  bool avx512f = false;
  bool avx512bw = false;
  bool avx512vbmi = false;
};

// Returns the features, asked once: from the C library's record where it
// keeps one (glibc asked the processor as the program started), else from
// the processor itself, in two questions. (On a virtual machine each
// question traps, some 7 us here; GCC's own record asks about twenty.)
const CpuFeatures& cpuFeatures();

// Defines result name params twice from name##Body (an inline function of
// the same parameters): built for AVX2 and for the baseline, the first
// where the processor has it. Elsewhere, once.
#if SCORE2WAV_AVX2_TWINS
#define SCORE2WAV_TWINS(result, name, params, args)                                    \
  __attribute__((target("avx2"))) result name##Avx2 params { return name##Body args; } \
  result name##Baseline params { return name##Body args; }                             \
  result name params { return cpuFeatures().avx2 ? name##Avx2 args : name##Baseline args; }
#else
#define SCORE2WAV_TWINS(result, name, params, args) \
  result name params { return name##Body args; }
#endif
