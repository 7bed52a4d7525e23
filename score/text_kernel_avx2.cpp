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

SCORE2WAV_WIDE std::size_t asciiUnitsWide(const unsigned char* units, std::size_t count,
                                          bool little, unsigned char* out) {
  const __m256i notAscii = _mm256_set1_epi16(static_cast<short>(little ? 0xFF80 : 0x80FF));
  std::size_t taken = 0;
  for (; count - taken >= 32; taken += 32) {
    __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(units + 2 * taken));
    __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(units + 2 * taken + 32));
    if (!_mm256_testz_si256(_mm256_or_si256(low, high), notAscii)) break;
    if (!little) {  // each unit's ASCII byte to the bottom of its 16 bits
      low = _mm256_srli_epi16(low, 8);
      high = _mm256_srli_epi16(high, 8);
    }
    // The pack works within each half: the middle quarters change places.
    const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(low, high), 0xD8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + taken), bytes);
  }
  return taken;
}

}  // namespace textScan
#endif
