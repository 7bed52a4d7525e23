// Fixed rows: chords of up to four notes summed from 32-bit fixed-point
// rows (fixed_sum.h), each pitch's row carrying the chord's gain; a sample
// the fixed sum cannot name for sure is recomputed in doubles.
#include <algorithm>

#include "base/allocation.h"
#include "sound/fixed_sum.h"
#include "sound/render_parts.h"

namespace render {

namespace {

// Returns sample k of a chord of count notes from their double rows, by
// the defining formula: what a fixed-point sample falls back on.
unsigned char exactSample(const double* const* rows, std::int64_t count, double gain,
                          std::size_t k) {
  double u = 0.0;
  for (std::int64_t i = 0; i < count; ++i) u = rows[i][k] * gain + u;
  return sampleOf(u);
}

// Samples of a chord of N notes from its fixed rows; those the fixed sum
// cannot name (all of them, if every one is to be exact) from its double
// rows. The samples go in stretches, so that one unsure sample (every
// chord's first may be: all its ramps are -1 there) costs a short stretch.
template <int N>
SCORE2WAV_ALWAYS_INLINE void sumFixedKernel(const std::int32_t* const* fixed,
                                            const double* const* exact, double gain,
                                            std::size_t count, bool allExact, unsigned char* out) {
  constexpr std::size_t stretch = 64;
  for (std::size_t from = 0; from < count; from += stretch) {
    std::size_t end = std::min(count, from + stretch);
    if (!fixedSum::sumFixed<N>(fixed, from, end, out) && !allExact) continue;
    for (std::size_t k = from; k < end; ++k) {
      if (allExact || fixedSum::unsure<N>(fixedSum::fixedSampleSum<N>(fixed, k))) {
        out[k] = exactSample(exact, N, gain, k);
      }
    }
  }
}

SCORE2WAV_VECTOR_CLONES
void sumFixedNotes(const std::int32_t* const* fixed, const double* const* exact,
                   std::int64_t noteCount, double gain, std::size_t count, bool allExact,
                   unsigned char* out) {
  switch (noteCount) {
    case 1: sumFixedKernel<1>(fixed, exact, gain, count, allExact, out); break;
    case 2: sumFixedKernel<2>(fixed, exact, gain, count, allExact, out); break;
    case 3: sumFixedKernel<3>(fixed, exact, gain, count, allExact, out); break;
    default: sumFixedKernel<4>(fixed, exact, gain, count, allExact, out); break;
  }
}

}  // namespace

// Builds the missing fixed rows of a chord of few notes from its double
// rows (which it has), within the table budget; returns true if every pitch
// of the chord has its fixed row.
bool ensureFixedRows(Renderer& renderer, const PitchSet& set, std::int64_t noteCount, double gain) {
  std::size_t rowBytes = renderer.timeCount * sizeof(std::int32_t);
  for (int i = 0; i < set.count; ++i) {
    int pitch = set.pitches[i];
    OwnedArray<std::int32_t>& row = renderer.fixedRows[noteCount - 1][pitch];
    if (row) continue;
    if (renderer.tableBytes + rowBytes > tableBudget) return false;
    row = allocateArray<std::int32_t>(renderer.timeCount);
    if (!row) return false;
    const double* ramps = renderer.rows[pitch].get();
    for (std::size_t k = 0; k < renderer.timeCount; ++k)
      row[k] = fixedSum::fixedValue(ramps[k], gain);
    renderer.tableBytes += rowBytes;
  }
  return true;
}

// Renders the pass's next count samples of a chord of few notes from the
// fixed-point rows into out.
void renderFixed(Renderer& renderer, ChordPass& pass, std::size_t count, unsigned char* out) {
  const Chord& chord = *pass.chord;
  const std::int32_t* fixed[fewNotes];
  const double* exact[fewNotes];
  for (std::int64_t i = 0; i < chord.noteCount; ++i) {
    fixed[i] = renderer.fixedRows[chord.noteCount - 1][chord.notes[i]].get() + pass.done;
    exact[i] = renderer.rows[chord.notes[i]].get() + pass.done;
  }
  sumFixedNotes(fixed, exact, chord.noteCount, pass.gain, count, renderer.exactSamples, out);
  pass.done += count;
}

}  // namespace render
