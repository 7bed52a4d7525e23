// Wraps: chords of more than four notes from the periods their pitches
// have begun, an exact integer, and a straight line.
//
// A note's ramp is 2 r / P - 1, where r = t - m P is fmod's exact remainder
// and m the whole periods of P within chord time t. So a chord of n notes
// sums, in exact arithmetic,
//   g (2 r1 / P1 - 1) + ... + g (2 rn / Pn - 1) = (128 - g n) + (g T) t - 2 g M - 128,
// where T is the sum of 2 / P over its notes and M the sum of their m. Each
// pitch's m at every sample is kept in 16 bits (wrapRows, shared by every
// gain), the chord's M is summed in 16-bit lanes (it must stay below 2^16),
// and the rest is a line through the chord's samples and one product.
//
// The bound, in units of 2^-23 of a sample. For a stretch from sample s,
// with M0 = M(s) and dM = M - M0, the program computes
//   S = level(k) - floor(twice M0 / 2^16) - whole dM,
// where level is the line's start + k step (units of 2^-55) in whole units,
// within 2 of it (two floors); twice is 2 g in units of 2^-16, exact, so the
// second term lies within 1 of 2 g M0; and whole is 2 g rounded to a unit,
// within dM / 2 + 1 of 2 g dM, dM being at most the pitches' most periods
// in a stretch (mostWraps). The line's step is g T h (h the sample step)
// rounded in at most n + 8 places, each by 2^-53 of it, and sample k's chord
// time t_k, the sum of k steps each rounded by at most 2^-53 of t, lies
// within k t_k 2^-53 of k h: the line is within g T t (n + 8 + k) 2^-53 2^23
// units of g T t_k. The double formula itself rounds its n terms, n sums
// and the midpoint's addition by far less than n / 2 units in all. So where
// S is more than the edge (their sum, and some) from a multiple of 2^23, it
// names the sample; the others are recomputed in doubles.
//
// Range: 8 <= u + 128 < 248, so S lies in (0, 2^31), and every part of it
// may wrap modulo 2^32 or 2^64 on the way.
#include <algorithm>
#include <cmath>

#include "base/allocation.h"
#include "sound/fixed_sum.h"
#include "sound/period_table.h"
#include "sound/render_parts.h"

namespace render {

namespace {

constexpr std::size_t wrapStretch = 128;  // samples checked for unsure sums at once
static_assert(Renderer::blockSamples / wrapStretch <= 32, "a block's stretches fit a mask");
constexpr std::uint32_t maxWraps = 0xFFFF;  // the most M a chord may reach in 16-bit lanes

// One chord's line and product, in fixed point (see the bound above).
struct WrapLine {
  std::uint64_t start = 0;           // (128 - g n) at the chord's first sample, units of 2^-55
  std::uint64_t step = 0;            // g T h: the rise a sample, units of 2^-55
  std::uint64_t twice = 0;           // 2 g in units of 2^-39 (2^-16 of a unit)
  std::uint32_t whole = 0;           // 2 g in units, rounded
  std::uint32_t edge = 0;            // units within which a sum may name the wrong sample
  std::uint32_t rises[wrapStretch];  // j steps' whole units, for j in a stretch
};

// A chord's distinct pitches: each one's wrap rows and notes.
struct WrapTerms {
  const std::uint16_t* rows[scoreFormat::pitchCount];  // its wraps by each sample
  std::uint32_t times[scoreFormat::pitchCount];        // notes of the pitch
  bool counted = false;                                // some pitch has more than one
  int count = 0;
};

// Sums the samples [from, from + N) of a block whose first sample is the
// chord's sample first: M in 16-bit lanes (from its value where the stretch
// began and each pitch's wraps since), then the line less 2 g M from level
// (the line at sample from). The samples lie in one stretch of the chord.
// Returns true if one lies within the edge of a whole number, storing the
// sums at sums[from..) then, to be rechecked.
template <std::size_t N, bool Counted>
SCORE2WAV_ALWAYS_INLINE bool sumWrapStretch(const WrapTerms& terms, std::size_t first,
                                            std::size_t from, std::size_t n, const WrapLine& line,
                                            std::uint32_t level, std::uint32_t* sums,
                                            unsigned char* out) {
  using namespace fixedSum;
  const std::size_t count = N > 0 ? N : n;
  const std::size_t at = first + from;
  std::uint32_t begun = 0;  // M at the stretch's first sample
  for (int i = 0; i < terms.count; ++i) begun += terms.times[i] * terms.rows[i][at];
  const std::uint32_t offset = level - static_cast<std::uint32_t>((line.twice * begun) >> 16);
  // M's rise since then, in 16-bit lanes (M itself fits them).
  std::uint16_t wraps[wrapStretch];
  for (std::size_t k = 0; k < count; ++k) wraps[k] = static_cast<std::uint16_t>(0u - begun);
  // One way for every pitch of the chord: a branch a pitch would be
  // mispredicted where counts are mixed.
  for (int i = 0; i < terms.count; ++i) {
    const std::uint16_t* row = terms.rows[i] + at;
    if (!Counted) {
      for (std::size_t k = 0; k < count; ++k)
        wraps[k] = static_cast<std::uint16_t>(wraps[k] + row[k]);
    } else {
      const std::uint32_t each = terms.times[i];
      for (std::size_t k = 0; k < count; ++k)
        wraps[k] = static_cast<std::uint16_t>(wraps[k] + each * row[k]);
    }
  }
  std::uint32_t nearest = ~0u;  // the least distance above a whole number, edge added
  for (std::size_t k = 0; k < count; ++k) {
    std::uint32_t v = (offset + line.rises[k]) - line.whole * wraps[k];
    out[from + k] = static_cast<unsigned char>(v >> fixedShift);
    nearest = std::min(nearest, (v + line.edge) & (fixedOne - 1));
  }
  if (nearest >= 2 * line.edge) return false;
  for (std::size_t k = 0; k < count; ++k) {
    sums[from + k] = (offset + line.rises[k]) - line.whole * wraps[k];
  }
  return true;
}

// Returns the line's whole units at sample from of a block whose first
// sample's line is base (units of 2^-55).
inline std::uint32_t levelAt(std::uint64_t base, std::size_t from, const WrapLine& line) {
  return static_cast<std::uint32_t>((base + from * line.step) >> 32);
}

// Sums count samples (at most a block) of a chord from its sample first,
// the line there being base, a stretch at a time; returns the mask of the
// stretches that hold a sum near a whole number, whose sums it leaves in sums.
template <bool Counted>
SCORE2WAV_ALWAYS_INLINE std::uint32_t sumWrapStretches(const WrapTerms& terms, std::size_t first,
                                                       std::size_t count, const WrapLine& line,
                                                       std::uint64_t base, std::uint32_t* sums,
                                                       unsigned char* out) {
  std::uint32_t unsureStretches = 0;
  std::size_t from = 0;
  for (; from + wrapStretch <= count; from += wrapStretch) {
    if (sumWrapStretch<wrapStretch, Counted>(terms, first, from, wrapStretch, line,
                                             levelAt(base, from, line), sums, out)) {
      unsureStretches |= 1u << (from / wrapStretch);
    }
  }
  if (from < count && sumWrapStretch<0, Counted>(terms, first, from, count - from, line,
                                                 levelAt(base, from, line), sums, out)) {
    unsureStretches |= 1u << (from / wrapStretch);
  }
  return unsureStretches;
}

// sumWrapStretches for a chord whose pitches each have one note, or not.
SCORE2WAV_WIDE_CLONES
std::uint32_t sumWrapSet(const WrapTerms& terms, std::size_t first, std::size_t count,
                         const WrapLine& line, std::uint64_t base, std::uint32_t* sums,
                         unsigned char* out) {
  if (terms.counted) return sumWrapStretches<true>(terms, first, count, line, base, sums, out);
  return sumWrapStretches<false>(terms, first, count, line, base, sums, out);
}

// Returns the most periods of pitch that begin within a stretch: a stretch
// spans less than wrapStretch sample steps, so no more than that time holds,
// and one more.
std::uint32_t mostWraps(const Renderer& renderer, int pitch) {
  return static_cast<std::uint32_t>(static_cast<double>(wrapStretch) *
                                    renderer.settings.sampleStep / periodTable[pitch]) +
         1;
}

// Returns the chord's line, product and edge; a zero edge if its M could
// pass 2^16 or its edge half a sample (then it takes another way).
WrapLine wrapLine(const Renderer& renderer, const ChordPass& pass) {
  WrapLine line;
  double slope = 0.0;  // T, a second
  std::uint64_t wrapsAtEnd = 0;
  std::uint64_t stretchWraps = 0;  // the most M may rise within a stretch
  for (int i = 0; i < pass.pitches.count; ++i) {
    int pitch = pass.pitches.pitches[i];
    std::uint64_t count = static_cast<std::uint64_t>(pass.counts[pitch]);
    slope += static_cast<double>(count) * (2.0 / periodTable[pitch]);
    std::size_t last = renderer.timeCount - 1;
    wrapsAtEnd += count * renderer.wrapRows[pitch][last];
    stretchWraps += count * mostWraps(renderer, pitch);
  }
  double gain = pass.gain;
  double notes = static_cast<double>(pass.chord->noteCount);
  double rise = gain * slope;  // g T, at most 240 * 1661.2 a second
  double last = renderer.times[renderer.timeCount - 1];
  double lineUnits =
      rise * last * (notes + 8.0 + static_cast<double>(renderer.timeCount)) * std::ldexp(1.0, -30);
  double edge = std::ceil(lineUnits) + notes / 2.0 + static_cast<double>(stretchWraps / 2) + 8.0;
  if (wrapsAtEnd > maxWraps || !(edge < std::ldexp(1.0, 21))) return line;
  line.edge = static_cast<std::uint32_t>(edge);
  line.start = static_cast<std::uint64_t>((128.0 - gain * notes) * std::ldexp(1.0, 55));
  line.step =
      static_cast<std::uint64_t>((rise * renderer.settings.sampleStep) * std::ldexp(1.0, 55));
  line.twice = static_cast<std::uint64_t>(gain * std::ldexp(1.0, 40));  // exact: g * 2^40 < 2^47
  line.whole = static_cast<std::uint32_t>((line.twice + 0x8000) >> 16);
  for (std::size_t j = 0; j < wrapStretch; ++j) {
    line.rises[j] = static_cast<std::uint32_t>((j * line.step) >> 32);
  }
  return line;
}

}  // namespace

// Builds the missing wrap rows of the chord's pitches from their ramp rows
// (which it has): the ramp falls exactly where a period begins, as a sample
// step is shorter than every period. Returns true if every pitch has one.
bool ensureWrapRows(Renderer& renderer, const PitchSet& set) {
  std::size_t rowBytes = renderer.timeCount * sizeof(std::uint16_t);
  for (int i = 0; i < set.count; ++i) {
    int pitch = set.pitches[i];
    OwnedArray<std::uint16_t>& row = renderer.wrapRows[pitch];
    if (row) continue;
    if (renderer.tableBytes + rowBytes > tableBudget) return false;
    row = allocateArray<std::uint16_t>(renderer.timeCount);
    if (!row) return false;
    const double* ramps = renderer.rows[pitch].get();
    std::uint16_t wraps = 0;  // at most 16 s of 1661 Hz: far below 2^16
    row[0] = 0;
    for (std::size_t k = 1; k < renderer.timeCount; ++k) {
      if (ramps[k] < ramps[k - 1]) ++wraps;
      row[k] = wraps;
    }
    renderer.tableBytes += rowBytes;
  }
  return true;
}

bool wrapsFit(const Renderer& renderer, const ChordPass& pass) {
  return wrapLine(renderer, pass).edge != 0;
}

void renderWraps(Renderer& renderer, ChordPass& pass, std::size_t count, unsigned char* out) {
  const WrapLine line = wrapLine(renderer, pass);
  WrapTerms terms;
  terms.count = pass.pitches.count;
  for (int i = 0; i < terms.count; ++i) {
    int pitch = pass.pitches.pitches[i];
    terms.rows[i] = renderer.wrapRows[pitch].get();
    terms.times[i] = static_cast<std::uint32_t>(pass.counts[pitch]);
    terms.counted = terms.counted || terms.times[i] > 1;
  }
  std::uint32_t sums[Renderer::blockSamples];
  for (std::size_t from = 0; from < count; from += Renderer::blockSamples) {
    std::size_t first = pass.done + from;
    std::size_t part = std::min(count - from, Renderer::blockSamples);
    std::uint64_t base = line.start + first * line.step;
    std::uint32_t recheck = sumWrapSet(terms, first, part, line, base, sums, out + from);
    recheckSums(renderer, pass, recheck, wrapStretch, sums, line.edge, first, part, out + from);
  }
  pass.done += count;
}

}  // namespace render
