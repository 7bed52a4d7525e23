#include "sound/period_table.h"

#include <cmath>

double periodTable[scoreFormat::pitchCount];
double periodHigh[scoreFormat::pitchCount];
double periodLow[scoreFormat::pitchCount];

namespace {

// 2^(k/12.0) for k = 0..47, each the correctly rounded double of 2 raised to
// the double k/12.0. Written out because a C library's pow need not round
// correctly; these were computed with 300-bit arithmetic.
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

}  // namespace

void buildPeriodTable() {
  const double basePeriod = 1.0 / 110.0;  // seconds: pitch index 0 sounds at 110 Hz
  for (int k = 0; k < scoreFormat::pitchCount; ++k) {
    periodTable[k] = basePeriod / semitoneRatio[k];
    int exponent = 0;
    double mantissa = std::frexp(periodTable[k], &exponent);
    periodHigh[k] = std::ldexp(std::trunc(std::ldexp(mantissa, 32)), exponent - 32);
    periodLow[k] = periodTable[k] - periodHigh[k];
  }
}
