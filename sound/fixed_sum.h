// Samples of chords of few notes, and of many, in fixed point, exact to the bit.
//
// The defining sum u = r1 * g + 0, u = r2 * g + u, ... (each ramp value r in
// [-1, 1), the chord's gain g) is rounded in double precision at every step,
// and the sample is the low 8 bits of (int32) (u + 128). Here each ramp row is
// kept as round(fl(r * g) * 2^fixedShift) in 32-bit integers, and a sample is
// the integer part of (sum of the N rows + 128 * 2^fixedShift) / 2^fixedShift.
//
// The bound. Let U be the fixed sum and u the double sum, both in units of
// 2^-fixedShift (2^-23). Each row value is within 1/2 unit of fl(r * g). The
// double sum adds N terms below 2^7, each addition rounded by at most 2^-46,
// so it lies within N * 2^-46 of the exact sum of the fl(r * g): far below a
// unit. So |U - u * 2^23| <= N/2 + 1/8 units, and where U + 128 * 2^23 is
// more than unsureUnits(N) = N/2 + 1 units from a multiple of 2^23, both
// u + 128 (rounded once more, by at most 2^-45) and U / 2^23 have the same
// integer part. The samples where it is not are rare (about 2N + 2 in 2^23)
// and are recomputed with the double formula.
//
// Range: n * g <= 120 for a chord of n notes (the loudness rule), so
// |U| <= 120 * 2^23 and U + 128 * 2^23 lies in (0, 2^32): it fits unsigned
// 32 bits, and u + 128 is always positive, so truncation is the floor.
//
// Nothing here needs N to be small: the fixed sets (sum_fixed_rows.cpp)
// sum chords of up to 4096 notes so, a row a distinct pitch times its
// count (unsigned 32-bit sums wrap alike in any order), where N * 2^-46 is
// still far below a unit and N/2 + 1 units far below a whole number.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fixedSum {

constexpr int fixedShift = 23;
constexpr std::uint32_t fixedOne = 1u << fixedShift;
constexpr std::uint32_t fixedMidpoint = 128u << fixedShift;  // the silence, 128

// Returns the distance from a whole number, in units, below which a fixed
// sum of n rows may name the wrong sample.
constexpr std::uint32_t unsureUnits(int n) { return static_cast<std::uint32_t>(n / 2 + 1); }

// True if a fixed sum v (offset by the midpoint) lies within edge units of
// a whole number: too near to name its sample.
inline bool unsure(std::uint32_t v, std::uint32_t edge) {
  return ((v + edge) & (fixedOne - 1)) < 2 * edge;
}

// Returns a row value: fl(ramp * gain) scaled by 2^fixedShift and rounded to
// nearest (a product of at most 120 in magnitude fits 32 bits scaled).
inline std::int32_t fixedValue(double ramp, double gain) {
  double scaled = (ramp * gain) * static_cast<double>(fixedOne);  // exact: a power of two
  return static_cast<std::int32_t>(scaled < 0.0 ? scaled - 0.5 : scaled + 0.5);
}

}  // namespace fixedSum

// Chords of many notes, from the counts of their pitches.
//
// Integer sums do not depend on the order of their terms, so a chord of N
// notes is the sum over its distinct pitches p of count(p) * Q(p), where
// Q(p) = fl(r_p * g) * 2^countedShift truncated: within 1 unit of the term,
// so the fixed sum V lies within N units of the exact sum of the terms. The
// double sum rounds each of its N additions (results below 2^7) by at most
// 2^-47, N/2 units, and u + 128 once more by at most 1 unit. So where
// V + 128 * 2^countedShift is more than countedEdge(N) = 2N + 2 units from a
// multiple of 2^countedShift, it names the sample. The others (about 4N in
// 2^46) are recomputed with the double formula; with 2^44 notes or more,
// all of them are.
//
// Range: |V| <= 120 * 2^46 + N < 2^63.
namespace fixedSum {

constexpr int countedShift = 46;
constexpr std::uint64_t countedOne = std::uint64_t{1} << countedShift;
constexpr std::uint64_t countedMidpoint = std::uint64_t{128} << countedShift;

// Returns a term fl(ramp * gain) in units of 2^-countedShift, truncated.
inline std::int64_t countedValue(double ramp, double gain) {
  return static_cast<std::int64_t>((ramp * gain) * static_cast<double>(countedOne));
}

// Returns the distance from a whole number, in units, below which a counted
// sum of noteCount notes may name the wrong sample (at most half a whole
// number: then none is sure).
constexpr std::uint64_t countedEdge(std::int64_t noteCount) {
  constexpr std::uint64_t half = countedOne / 2;
  return noteCount >= static_cast<std::int64_t>(half / 2)
             ? half
             : 2 * static_cast<std::uint64_t>(noteCount) + 2;
}

// True if a counted sum v (offset by the midpoint) lies within edge units of
// a whole number.
inline bool countedUnsure(std::uint64_t v, std::uint64_t edge) {
  return ((v + edge) & (countedOne - 1)) < 2 * edge;
}

}  // namespace fixedSum
