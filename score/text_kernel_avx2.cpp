// The AVX2 kernel's constants, kept where the compiler cannot see them.
#include "score/text_kernel_avx2.h"

#if SCORE2WAV_AVX2_KERNEL
namespace textScan {

namespace {

struct Splats {
  alignas(32) unsigned char of[256][wideWindow];
  constexpr Splats() : of() {
    for (int c = 0; c < 256; ++c) {
      for (std::size_t i = 0; i < wideWindow; ++i) of[c][i] = static_cast<unsigned char>(c);
    }
  }
};

constexpr Splats splats;

}  // namespace

const unsigned char (*const wideSplats)[wideWindow] = splats.of;

}  // namespace textScan
#endif
