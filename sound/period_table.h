// Periods of the 48 pitches a score can name, in equal-tempered semitones
// from 110 Hz upward. Compile-time constants: nothing to fill at start.
#pragma once

#include <cstdint>

#include "score/score_format.h"

namespace periods {

// 2^(k/12.0) for k = 0..47, each the correctly rounded double of 2 raised to
// the double k/12.0. Written out because a C library's pow need not round
// correctly. The periods they give are checked against
// tests/gen_period_constants.py, which rounds each ratio once from 300-bit
// arithmetic (period_table_test.cpp).
constexpr double semitoneRatio[scoreFormat::pitchCount] = {
    0x1.0000000000000p+0, 0x1.0f38f92d97963p+0, 0x1.1f59ac3c7d6c0p+0, 0x1.306fe0a31b715p+0,
    0x1.428a2f98d728bp+0, 0x1.55b8108f0ec5ep+0, 0x1.6a09e667f3bcdp+0, 0x1.7f910d768cfb0p+0,
    0x1.965fea53d6e3cp+0, 0x1.ae89f995ad3adp+0, 0x1.c823e074ec129p+0, 0x1.e3437e7101343p+0,
    0x1.0000000000000p+1, 0x1.0f38f92d97963p+1, 0x1.1f59ac3c7d6c0p+1, 0x1.306fe0a31b715p+1,
    0x1.428a2f98d728bp+1, 0x1.55b8108f0ec5ep+1, 0x1.6a09e667f3bcdp+1, 0x1.7f910d768cfb0p+1,
    0x1.965fea53d6e3dp+1, 0x1.ae89f995ad3adp+1, 0x1.c823e074ec129p+1, 0x1.e3437e7101344p+1,
    0x1.0000000000000p+2, 0x1.0f38f92d97963p+2, 0x1.1f59ac3c7d6bfp+2, 0x1.306fe0a31b715p+2,
    0x1.428a2f98d728bp+2, 0x1.55b8108f0ec5dp+2, 0x1.6a09e667f3bcdp+2, 0x1.7f910d768cfb1p+2,
    0x1.965fea53d6e3cp+2, 0x1.ae89f995ad3adp+2, 0x1.c823e074ec12ap+2, 0x1.e3437e7101343p+2,
    0x1.0000000000000p+3, 0x1.0f38f92d97963p+3, 0x1.1f59ac3c7d6bfp+3, 0x1.306fe0a31b715p+3,
    0x1.428a2f98d728bp+3, 0x1.55b8108f0ec5dp+3, 0x1.6a09e667f3bcdp+3, 0x1.7f910d768cfb1p+3,
    0x1.965fea53d6e3cp+3, 0x1.ae89f995ad3adp+3, 0x1.c823e074ec12ap+3, 0x1.e3437e7101343p+3,
};

constexpr double basePeriod = 1.0 / 110.0;  // seconds: pitch index 0 sounds at 110 Hz

// Returns the leading 32 significant bits of a positive x: scaling by powers
// of two and truncating are exact, so the compiler computes it bit for bit.
constexpr double leading32Bits(double x) {
  double scale = 1.0;
  while (x * scale < 2147483648.0) scale *= 2.0;  // until 2^31 <= x * scale < 2^32
  return static_cast<double>(static_cast<std::uint64_t>(x * scale)) / scale;
}

struct Table {
  double period[scoreFormat::pitchCount];
  double high[scoreFormat::pitchCount];
  double low[scoreFormat::pitchCount];
  constexpr Table() : period(), high(), low() {
    for (int k = 0; k < scoreFormat::pitchCount; ++k) {
      period[k] = basePeriod / semitoneRatio[k];
      high[k] = leading32Bits(period[k]);
      low[k] = period[k] - high[k];  // exact: the remaining (at most 21) bits
    }
  }
};

inline constexpr Table table;

}  // namespace periods

// periodTable[k]: the period in seconds of pitch index k, the double quotient
// of 1/110 and the correctly rounded 2^(k/12.0).
inline constexpr const double (&periodTable)[scoreFormat::pitchCount] = periods::table.period;

// Each period split in two parts whose sum is exact: periodHigh[k] holds its
// leading 32 significant bits, periodLow[k] the rest. Any whole number below
// 2^21 times either part is exact in a double.
inline constexpr const double (&periodHigh)[scoreFormat::pitchCount] = periods::table.high;
inline constexpr const double (&periodLow)[scoreFormat::pitchCount] = periods::table.low;
