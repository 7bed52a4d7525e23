#include "base/cpu_features.h"

#if defined(__x86_64__) && defined(__GNUC__)
// glibc's header declares its functions with C's _Bool, which GCC takes in
// C++ and clang does not.
#if defined(__has_include) && !defined(__clang__)
#if __has_include(<sys/platform/x86.h>)
#include <sys/platform/x86.h>
#define SCORE2WAV_LIBC_FEATURES 1
#endif
#endif
#ifndef SCORE2WAV_LIBC_FEATURES
#include <cpuid.h>
#endif
#endif

namespace {

// Returns the features, asked of the C library or the processor.
CpuFeatures askFeatures() {
  CpuFeatures features;
#if defined(SCORE2WAV_LIBC_FEATURES)
  features.popcnt = CPU_FEATURE_ACTIVE(POPCNT);
  features.avx2 = CPU_FEATURE_ACTIVE(AVX2);
  features.avx512f = CPU_FEATURE_ACTIVE(AVX512F);
  features.avx512bw = CPU_FEATURE_ACTIVE(AVX512BW);
  features.avx512vbmi = CPU_FEATURE_ACTIVE(AVX512_VBMI);
#elif defined(__x86_64__) && defined(__GNUC__)
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid(1, &a, &b, &c, &d) == 0) return features;
  features.popcnt = (c & bit_POPCNT) != 0;
  if ((c & bit_OSXSAVE) == 0) return features;
  unsigned low = 0, high = 0;
  __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
  static_cast<void>(high);
  const bool wide = (low & 0x6) == 0x6;              // the system keeps XMM and YMM
  const bool widest = wide && (low & 0xE0) == 0xE0;  // and the mask and ZMM registers
  if (__get_cpuid_count(7, 0, &a, &b, &c, &d) == 0) return features;
  features.avx2 = wide && (b & bit_AVX2) != 0;
  features.avx512f = widest && (b & bit_AVX512F) != 0;
  features.avx512bw = widest && (b & bit_AVX512BW) != 0;
  features.avx512vbmi = widest && (c & bit_AVX512VBMI) != 0;
#endif
  return features;
}

}  // namespace

const CpuFeatures& cpuFeatures() {
  static const CpuFeatures features = askFeatures();
  return features;
}
