// Wraps: chords of up to 127 notes from the periods their pitches have
// begun, an exact integer, and a straight line.
//
// A note's ramp is 2 r / P - 1, where r = t - m P is fmod's exact remainder
// and m the whole periods of P within chord time t. So a chord of n notes
// sums, in exact arithmetic,
//   g (2 r1 / P1 - 1) + ... + g (2 rn / Pn - 1) = (128 - g n) + (g T) t - 2 g M - 128,
// where T is the sum of 2 / P over its notes and M the sum of their m. Each
// pitch's periods are kept as a bit a sample, set where one begins, and
// its m where each stretch of 128 samples begins (shared by every gain); a
// kernel (wrap_kernel.h) counts the periods the chord's notes begin within
// each stretch, and the rest is a line through the chord's samples and one
// product a sample.
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
//
// Whole falls. Where 2 g is a whole number (a chord of n notes in a score
// whose largest has n, for n dividing 240, among others), each period
// begun lowers the sum by it exactly, so the sample is the line's whole part
// less 2 g M, and only the line's rounding is left in the edge (no product):
// where the line lies more than the edge from a whole number, both name the
// same. As 8 <= u + 128 < 248, all of it may be taken modulo 256: each
// pitch keeps, for each fall, a byte a sample of its fall times its periods
// begun, and a chord takes its notes' bytes from the line's.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/allocation.h"
#include "base/cpu_features.h"
#include "sound/fixed_sum.h"
#include "sound/period_table.h"
#include "sound/render_parts.h"
#include "sound/wrap_kernel.h"

namespace render {

namespace {

static_assert(Renderer::blockSamples % wrapStretch == 0, "blocks are whole stretches");
static_assert(Renderer::blockSamples / wrapStretch <= 32, "a block's stretches fit a mask");
constexpr std::uint64_t maxWraps = 0xFFFF;  // the most M a chord may reach
constexpr std::int64_t maxWrapNotes = 127;  // twice of them fill a byte lane (wrap_kernel.h)
constexpr std::int64_t fewStepNotes = 8;    // notes few enough to add their steps one by one
constexpr std::int64_t fallNotes = 16;      // notes few enough to take their falls one by one

// Returns the sum at a chord's first sample, where every term is -g: added
// one by one for few notes, else in steps a binade.
double firstSum(double gain, std::int64_t notes) {
  if (notes > 32) return repeatedSum(-gain, notes);
  double u = 0.0;
  for (std::int64_t i = 0; i < notes; ++i) u = -gain + u;
  return u;
}

// Returns the stretches of a chord.
std::size_t stretchesOf(const Renderer& renderer) {
  return (renderer.timeCount + wrapStretch - 1) / wrapStretch;
}

// Returns the most periods of pitch that begin within a stretch: a stretch
// spans less than wrapStretch sample steps, so no more than that time holds,
// and one more.
std::uint32_t mostWraps(const Renderer& renderer, int pitch) {
  return static_cast<std::uint32_t>(static_cast<double>(wrapStretch) *
                                    renderer.settings.sampleStep / periodTable[pitch]) +
         1;
}

// Returns the chord's fall where a period begun lowers its sum by a whole
// number below 256 (2 g is one), else 0.
std::uint32_t wholeFall(double gain) {
  double fall = 2.0 * gain;
  return fall == std::floor(fall) && fall < 256.0 ? static_cast<std::uint32_t>(fall) : 0;
}

// Stores j steps in units of 2^(unit - 55) at rises[j], modulo 2^32.
SCORE2WAV_ALWAYS_INLINE void fillRisesBody(std::uint64_t step, int unit, std::uint32_t* rises) {
  std::uint64_t lift = 0;  // j steps
  for (std::size_t j = 0; j < wrapStretch; ++j, lift += step) {
    rises[j] = static_cast<std::uint32_t>(lift >> unit);
  }
}
SCORE2WAV_TWINS(void, fillRises, (std::uint64_t step, int unit, std::uint32_t* rises),
                (step, unit, rises))

// Sets the chord's line and edge, stretchWraps being the product's part of
// the edge (0 where its notes' falls are whole), its rises in units of
// 2^(unit - 55) of a sample; a zero edge if that passes half a sample.
void setLine(const Renderer& renderer, ChordPass& pass, std::uint64_t stretchWraps, int unit) {
  WrapLine& line = pass.line;
  line.edge = 0;
  line.fall = 0;
  double slope = 0.0;  // T, a second
  for (int i = 0; i < pass.pitches.count; ++i) {
    int pitch = pass.pitches.pitches[i];
    slope += static_cast<double>(pass.counts[pitch]) * (2.0 / periodTable[pitch]);
  }
  double gain = pass.gain;
  double notes = static_cast<double>(pass.chord->noteCount);
  double rise = gain * slope;  // g T, at most 240 * 1661.2 a second
  double last = renderer.times[renderer.timeCount - 1];
  double lineUnits =
      rise * last * (notes + 8.0 + static_cast<double>(renderer.timeCount)) * 0x1p-30;
  double edge = std::ceil(lineUnits) + notes / 2.0 + static_cast<double>(stretchWraps / 2) + 8.0;
  if (!(edge < 0x1p21)) return;
  line.edge = static_cast<std::uint32_t>(edge);
  line.stretchWraps = stretchWraps;
  line.start = static_cast<std::uint64_t>((128.0 - gain * notes) * 0x1p55);
  line.step = static_cast<std::uint64_t>((rise * renderer.settings.sampleStep) * 0x1p55);
  line.twice = static_cast<std::uint64_t>(gain * 0x1p40);  // exact: g * 2^40 < 2^47
  line.whole = static_cast<std::uint32_t>((line.twice + 0x8000) >> 16);
  fillRises(line.step, unit, line.rises);
}

// Sets the chord's line, product and edge from its periods begun; a zero
// edge if it has more notes than a byte counts or its M could pass 2^16.
void setCountedLine(const Renderer& renderer, ChordPass& pass) {
  std::uint64_t wrapsAtEnd = 0;
  std::uint64_t stretchWraps = 0;  // the most M may rise within a stretch
  for (int i = 0; i < pass.pitches.count; ++i) {
    int pitch = pass.pitches.pitches[i];
    std::uint64_t count = static_cast<std::uint64_t>(pass.counts[pitch]);
    wrapsAtEnd += count * renderer.wrapStarts[pitch][stretchesOf(renderer)];
    stretchWraps += count * renderer.wrapMost[pitch];
  }
  pass.line.edge = 0;
  if (pass.chord->noteCount > maxWrapNotes || wrapsAtEnd > maxWraps) return;
  setLine(renderer, pass, stretchWraps, 32);
}

// Returns the rows of the fall's set, their missing rows built from the
// ramp rows (a period begins where the ramp falls); null if the set's
// rows, or the set, do not fit.
const Renderer::FallSet* ensureFallRows(Renderer& renderer, const PitchSet& set,
                                        std::uint32_t fall) {
  Renderer::FallSet* rows = nullptr;
  for (Renderer::FallSet& each : renderer.fallSets) {
    if (each.fall == fall || (each.fall == 0 && rows == nullptr)) rows = &each;
    if (each.fall == fall) break;
  }
  if (rows == nullptr) return nullptr;
  rows->fall = fall;
  std::size_t rowBytes = stretchesOf(renderer) * wrapStretch;
  for (int i = 0; i < set.count; ++i) {
    int pitch = set.pitches[i];
    if (rows->rows[pitch]) continue;
    if (renderer.tableBytes + rowBytes > tableBudget) return nullptr;
    OwnedArray<std::uint8_t> row = allocateArray<std::uint8_t>(rowBytes);
    if (!row) return nullptr;
    const double* ramps = renderer.rows[pitch].get();
    unsigned falls = 0;  // fall times the periods begun (the row keeps it mod 256)
    row[0] = 0;
    for (std::size_t k = 1; k < renderer.timeCount; ++k) {
      falls += fall * static_cast<unsigned>(ramps[k] < ramps[k - 1]);  // no branch to mispredict
      row[k] = static_cast<std::uint8_t>(falls);
    }
    for (std::size_t k = renderer.timeCount; k < rowBytes; ++k) row[k] = 0;
    rows->rows[pitch] = std::move(row);
    renderer.tableBytes += rowBytes;
  }
  return rows;
}

// Builds the missing wrap rows of the chord's pitches from their ramp rows
// (which it has): the ramp falls exactly where a period begins, as a sample
// step is shorter than every period. The starts end with the periods begun
// by the chord's last sample; the steps are built for the kernel that adds
// them. Returns true if every pitch has its rows.
bool ensureWrapRows(Renderer& renderer, const PitchSet& set) {
  const bool withSteps = renderer.wrapKernel == WrapKernel::avx512;
  std::size_t stretches = stretchesOf(renderer);
  std::size_t stepBytes = withSteps ? stretches * wrapStretch : 0;
  std::size_t rowBytes =
      stretches * 2 * sizeof(std::uint64_t) + (stretches + 1) * sizeof(std::uint16_t) + stepBytes;
  for (int i = 0; i < set.count; ++i) {
    int pitch = set.pitches[i];
    if (renderer.wrapBits[pitch]) continue;
    if (renderer.tableBytes + rowBytes > tableBudget) return false;
    OwnedArray<std::uint64_t> bits = allocateArray<std::uint64_t>(2 * stretches);
    OwnedArray<std::uint16_t> starts = allocateArray<std::uint16_t>(stretches + 1);
    OwnedArray<std::uint8_t> steps;
    if (withSteps) steps = allocateArray<std::uint8_t>(stepBytes);
    if (!bits || !starts || (withSteps && !steps)) return false;
    for (std::size_t w = 0; w < 2 * stretches; ++w) bits[w] = 0;
    const double* ramps = renderer.rows[pitch].get();
    std::uint16_t wraps = 0;  // at most 16 s of 1661 Hz: far below 2^16
    for (std::size_t k = 0; k < renderer.timeCount; ++k) {
      if (k > 0 && ramps[k] < ramps[k - 1]) {
        ++wraps;
        bits[k / 64] |= std::uint64_t{1} << (k % 64);
      }
      if (k % wrapStretch == 0) starts[k / wrapStretch] = wraps;
      if (withSteps) steps[k] = static_cast<std::uint8_t>(wraps - starts[k / wrapStretch]);
    }
    for (std::size_t k = renderer.timeCount; k < stepBytes; ++k) steps[k] = 0;
    starts[stretches] = wraps;
    renderer.wrapMost[pitch] = mostWraps(renderer, pitch);
    renderer.wrapBits[pitch] = std::move(bits);
    renderer.wrapSteps[pitch] = std::move(steps);
    renderer.wrapStarts[pitch] = std::move(starts);
    renderer.tableBytes += rowBytes;
  }
  return true;
}

}  // namespace

bool prepareWraps(Renderer& renderer, ChordPass& pass) {
  const std::uint32_t fall = wholeFall(pass.gain);
  pass.falls = nullptr;
  if (fall != 0 && pass.chord->noteCount <= fallNotes && renderer.fallSums) {
    pass.falls = ensureFallRows(renderer, pass.pitches, fall);
  }
  if (pass.falls != nullptr) {
    setLine(renderer, pass, 0, 31);
    pass.line.fall = fall;
    // Unsure only where the part above a whole number lies below twice the
    // edge (4 edge half units), so below the power of two above, 2^p: bits
    // max(p, 8) to 23 are clear, and bits 8 to 23 below 2^(max(p, 8) - 8).
    std::uint32_t near = 1;
    while (near < 4 * pass.line.edge) near *= 2;
    pass.line.nearTops = std::max<std::uint32_t>(near >> 8, 1) + 1;
  } else if (pass.chord->noteCount >= renderer.wrapNotes &&
             ensureWrapRows(renderer, pass.pitches)) {
    setCountedLine(renderer, pass);
  } else {
    return false;
  }
  return pass.line.edge != 0;
}

namespace {

// Sums samples [first, first + part) of the chord (first beginning a
// stretch, part at most a block) into out.
void sumBlock(const Renderer& renderer, const ChordPass& pass, const WrapTerms& terms,
              std::size_t first, std::size_t part, unsigned char* out) {
  const WrapLine& line = pass.line;
  std::uint32_t begun[Renderer::blockSamples / wrapStretch];
  std::uint32_t sums[Renderer::blockSamples];
  std::size_t stretches = (part + wrapStretch - 1) / wrapStretch;
  for (std::size_t s = 0; s < stretches; ++s) begun[s] = 0;
  for (int i = 0; i < terms.count && line.fall == 0; ++i) {
    const std::uint16_t* starts = renderer.wrapStarts[pass.pitches.pitches[i]].get();
    for (std::size_t s = 0; s < stretches; ++s) {
      begun[s] += terms.times[i] * starts[first / wrapStretch + s];
    }
  }
  // Every ramp is -1 at a chord's first sample, which loud chords put on
  // a whole number: it is summed at once (and its fixed sum, never read,
  // set far from a whole number).
  if (first == 0) out[0] = sampleOf(firstSum(pass.gain, pass.chord->noteCount));
  if (first == 0) sums[0] = fixedSum::fixedOne / 2;
  WrapBlock block;
  block.first = first;
  block.count = part;
  block.skip = first == 0 ? 1 : 0;
  block.begun = begun;
  block.base = line.start + first * line.step;
  std::uint32_t recheck = line.fall != 0
                              ? sumFallBlock(renderer.wrapKernel, terms, line, block, sums, out)
                              : sumWrapBlock(renderer.wrapKernel, terms, line, block, sums, out);
  recheckSums(renderer, pass, recheck, wrapStretch, sums, line.edge, first, part, out);
}

}  // namespace

void renderWraps(Renderer& renderer, ChordPass& pass, std::size_t count, unsigned char* out) {
  WrapTerms terms;
  terms.count = pass.pitches.count;
  for (int i = 0; i < terms.count; ++i) {
    int pitch = pass.pitches.pitches[i];
    terms.bits[i] = renderer.wrapBits[pitch].get();
    terms.steps[i] = renderer.wrapSteps[pitch].get();
    terms.falls[i] = pass.falls != nullptr ? pass.falls->rows[pitch].get() : nullptr;
    terms.times[i] = static_cast<std::uint32_t>(pass.counts[pitch]);
  }
  terms.fewSteps = terms.steps[0] != nullptr && pass.line.stretchWraps <= 255 &&
                   pass.chord->noteCount <= fewStepNotes;
  // A piece that begins within a stretch (where a chord is rendered in
  // pieces) takes its samples from the whole stretch, summed aside.
  std::size_t head = std::min(count, (wrapStretch - pass.done % wrapStretch) % wrapStretch);
  if (head > 0) {
    unsigned char whole[wrapStretch];
    std::size_t first = pass.done - pass.done % wrapStretch;
    sumBlock(renderer, pass, terms, first, std::min(wrapStretch, renderer.timeCount - first),
             whole);
    std::memcpy(out, whole + pass.done % wrapStretch, head);
  }
  for (std::size_t from = head; from < count; from += Renderer::blockSamples) {
    std::size_t part = std::min(count - from, Renderer::blockSamples);
    sumBlock(renderer, pass, terms, pass.done + from, part, out + from);
  }
  pass.done += count;
}

}  // namespace render
