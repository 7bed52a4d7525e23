// Periods of the 48 pitches a score can name, in equal-tempered semitones
// from 110 Hz upward.
#pragma once

#include "score/score_format.h"

// periodTable[k]: the period in seconds of pitch index k, (1/110) / 2^(k/12).
extern double periodTable[scoreFormat::pitchCount];

// Each period split in two parts whose sum is exact: periodHigh[k] holds its
// leading 32 significant bits, periodLow[k] the rest (at most 21 bits). Any
// whole number below 2^21 times either part is exact in a double.
extern double periodHigh[scoreFormat::pitchCount];
extern double periodLow[scoreFormat::pitchCount];

// Fills periodTable, periodHigh and periodLow. Each entry is the double quotient of 1/110 and the
// correctly rounded 2^(k/12.0), the same bits on every platform.
void buildPeriodTable();
