#include "score/text_scan.h"

#if defined(SCORE2WAV_WIDE_WINDOWS)
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
