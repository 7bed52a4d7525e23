#include "score/text_kernel.h"

#include "base/cpu_features.h"
#include "score/text_kernel_avx2.h"
#include "score/text_kernel_scalar.h"
#include "score/text_kernel_sse2.h"

namespace {

// True if the processor has AVX2 and POPCNT.
bool processorHasAvx2() {
#if SCORE2WAV_AVX2_KERNEL
  return cpuFeatures().avx2 && cpuFeatures().popcnt;
#else
  return false;
#endif
}

}  // namespace

const char* textKernelName(TextKernel kernel) {
  switch (kernel) {
    case TextKernel::scalar: return "scalar";
    case TextKernel::sse2: return "sse2";
    case TextKernel::avx2: return "avx2";
  }
  return "scalar";
}

bool textKernelAvailable(TextKernel kernel) {
  switch (kernel) {
    case TextKernel::scalar: return true;
#if defined(__SSE2__)
    case TextKernel::sse2: return true;
#else
    case TextKernel::sse2: return false;
#endif
    case TextKernel::avx2: return processorHasAvx2();
  }
  return false;
}

TextKernel chosenTextKernel() {
  static const TextKernel chosen = textKernelAvailable(TextKernel::avx2)   ? TextKernel::avx2
                                   : textKernelAvailable(TextKernel::sse2) ? TextKernel::sse2
                                                                           : TextKernel::scalar;
  return chosen;
}

std::size_t asciiUnits(TextKernel kernel, const unsigned char* units, std::size_t count,
                       bool little, unsigned char* out) {
  switch (kernel) {
    case TextKernel::scalar: break;
    case TextKernel::sse2: return textScan::Sse2Kernel::asciiUnits(units, count, little, out);
    case TextKernel::avx2:
#if SCORE2WAV_AVX2_KERNEL
      return textScan::asciiUnitsWide(units, count, little, out);
#else
      break;
#endif
  }
  return textScan::ScalarKernel::asciiUnits(units, count, little, out);
}
