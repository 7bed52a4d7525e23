#include "sound/period_table.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// The expected periods, printed by tests/gen_period_constants.py from 300-bit
// arithmetic: (1/110) / nearest_double(2^(k/12.0)).
constexpr double expectedPeriods[48] = {
    0x1.29e4129e4129ep-7,  0x1.192bec799a4cfp-7,  0x1.0964004407062p-7,  0x1.f4fda4c0c9939p-8,
    0x1.d8df51d5ec170p-8,  0x1.be5501b3d73ffp-8,  0x1.a54807744ed25p-8,  0x1.8da2fbfee74cap-8,
    0x1.7751abbfd079dp-8,  0x1.624105655c714p-8,  0x1.4e5f099583fb5p-8,  0x1.3b9abb8d7d311p-8,
    0x1.29e4129e4129ep-8,  0x1.192bec799a4cfp-8,  0x1.0964004407062p-8,  0x1.f4fda4c0c9939p-9,
    0x1.d8df51d5ec170p-9,  0x1.be5501b3d73ffp-9,  0x1.a54807744ed25p-9,  0x1.8da2fbfee74cap-9,
    0x1.7751abbfd079cp-9,  0x1.624105655c714p-9,  0x1.4e5f099583fb5p-9,  0x1.3b9abb8d7d311p-9,
    0x1.29e4129e4129ep-9,  0x1.192bec799a4cfp-9,  0x1.0964004407063p-9,  0x1.f4fda4c0c9939p-10,
    0x1.d8df51d5ec170p-10, 0x1.be5501b3d7401p-10, 0x1.a54807744ed25p-10, 0x1.8da2fbfee74c9p-10,
    0x1.7751abbfd079dp-10, 0x1.624105655c714p-10, 0x1.4e5f099583fb5p-10, 0x1.3b9abb8d7d311p-10,
    0x1.29e4129e4129ep-10, 0x1.192bec799a4cfp-10, 0x1.0964004407063p-10, 0x1.f4fda4c0c9939p-11,
    0x1.d8df51d5ec170p-11, 0x1.be5501b3d7401p-11, 0x1.a54807744ed25p-11, 0x1.8da2fbfee74c9p-11,
    0x1.7751abbfd079dp-11, 0x1.624105655c714p-11, 0x1.4e5f099583fb5p-11, 0x1.3b9abb8d7d311p-11,
};

TEST(PeriodTable, EveryEntryIsTheCorrectlyRoundedPeriod) {
  for (int k = 0; k < 48; ++k) EXPECT_EQ(periodTable[k], expectedPeriods[k]) << "k = " << k;
}

TEST(PeriodTable, SplitPeriodsAreExactAndShort) {
  for (int k = 0; k < 48; ++k) {
    EXPECT_EQ(periodHigh[k] + periodLow[k], periodTable[k]) << "k = " << k;
    // The high part has at most 32 significant bits, the low part at most 21.
    int exponent = 0;
    EXPECT_EQ(std::ldexp(std::frexp(periodHigh[k], &exponent), 32),
              std::trunc(std::ldexp(std::frexp(periodHigh[k], &exponent), 32)));
    if (periodLow[k] != 0.0) {
      EXPECT_EQ(std::ldexp(std::frexp(periodLow[k], &exponent), 21),
                std::trunc(std::ldexp(std::frexp(periodLow[k], &exponent), 21)));
    }
  }
}

// The table is a compile-time constant: usable before any code runs.
static_assert(periodTable[0] == 1.0 / 110.0, "pitch 0 sounds at 110 Hz");

TEST(PeriodTable, TellingRowsSoundAtTheirFrequencies) {
  EXPECT_EQ(periodTable[0], 1.0 / 110.0);
  EXPECT_NEAR(1.0 / periodTable[9], 184.997, 0.0005);
  EXPECT_NEAR(1.0 / periodTable[12], 220.0, 1e-9);
  EXPECT_NEAR(1.0 / periodTable[24], 440.0, 1e-9);
  EXPECT_NEAR(1.0 / periodTable[36], 880.0, 1e-9);
  EXPECT_NEAR(1.0 / periodTable[47], 1661.219, 0.0005);
}

}  // namespace
