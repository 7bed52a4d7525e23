// Fixed rows: chords summed from 32-bit fixed-point rows (fixed_sum.h),
// each pitch's row carrying the chord's gain: a row a note for chords of up
// to four notes, and for more, the fixed sets of their note count, a row a
// distinct pitch times its count. A sample the fixed sum cannot name for
// sure is recomputed in doubles, note by note.
#include <algorithm>

#include "base/allocation.h"
#include "base/cpu_features.h"
#include "sound/fixed_sum.h"
#include "sound/render_parts.h"

namespace render {

namespace {

// The samples a fixed set's sum is checked for in one go: a sum near a
// whole number (every chord's first may be) costs only its stretch again.
constexpr std::size_t setStretch = 64;
static_assert(Renderer::blockSamples / setStretch <= 32, "a block's stretches fit a mask");

// Sums the samples [from, from + N) of a chord from the fixed rows of its
// distinct pitches (rows[0..pitches), each times[i] notes) into out, the N
// sums kept in registers while each pitch is added; returns true if one
// lies within edge units of a whole number (see unsure), storing the sums
// at sums[from..) then, to be rechecked.
template <std::size_t N>
SCORE2WAV_ALWAYS_INLINE bool sumSetStretch(const std::int32_t* const* rows,
                                           const std::uint32_t* times, int pitches,
                                           std::size_t from, std::size_t n, std::uint32_t edge,
                                           std::uint32_t* sums, unsigned char* out) {
  using namespace fixedSum;
  const std::size_t count = N > 0 ? N : n;
  std::uint32_t v[setStretch];
  for (std::size_t k = 0; k < count; ++k) v[k] = fixedMidpoint;
  for (int i = 0; i < pitches; ++i) {
    const std::int32_t* row = rows[i] + from;
    const std::uint32_t each = times[i];  // integer sums wrap alike in any order
    if (each == 1) {
      for (std::size_t k = 0; k < count; ++k) v[k] += static_cast<std::uint32_t>(row[k]);
    } else {
      for (std::size_t k = 0; k < count; ++k) v[k] += each * static_cast<std::uint32_t>(row[k]);
    }
  }
  std::uint32_t anyUnsure = 0;
  for (std::size_t k = 0; k < count; ++k) {
    out[from + k] = static_cast<unsigned char>(v[k] >> fixedShift);
    anyUnsure |= unsure(v[k], edge) ? 1u : 0u;
  }
  if (anyUnsure == 0) return false;
  for (std::size_t k = 0; k < count; ++k) sums[from + k] = v[k];
  return true;
}

// Sums count samples (at most a block) of a chord from the fixed rows of
// its distinct pitches, as sumFixed does for few notes, a stretch of
// setStretch samples at a time; returns the mask of the stretches that
// hold a sum near a whole number, whose sums it leaves in sums.
SCORE2WAV_ALWAYS_INLINE std::uint32_t sumFixedSetBody(const std::int32_t* const* rows,
                                                      const std::uint32_t* times, int pitches,
                                                      std::size_t count, std::uint32_t edge,
                                                      std::uint32_t* sums, unsigned char* out) {
  std::uint32_t unsureStretches = 0;
  std::size_t from = 0;
  for (; from + setStretch <= count; from += setStretch) {
    if (sumSetStretch<setStretch>(rows, times, pitches, from, setStretch, edge, sums, out)) {
      unsureStretches |= 1u << (from / setStretch);
    }
  }
  if (from < count && sumSetStretch<0>(rows, times, pitches, from, count - from, edge, sums, out)) {
    unsureStretches |= 1u << (from / setStretch);
  }
  return unsureStretches;
}
SCORE2WAV_TWINS(std::uint32_t, sumFixedSet,
                (const std::int32_t* const* rows, const std::uint32_t* times, int pitches,
                 std::size_t count, std::uint32_t edge, std::uint32_t* sums, unsigned char* out),
                (rows, times, pitches, count, edge, sums, out))

// Renders the pass's next count samples from fixed rows (terms of them,
// each times[i] over), a block at a time; the rare sums near a whole number
// are recomputed by the double formula.
void sumFixedTerms(Renderer& renderer, ChordPass& pass, const std::int32_t** rows,
                   const std::uint32_t* times, int terms, std::size_t count, unsigned char* out) {
  const std::uint32_t edge = fixedSum::unsureUnits(static_cast<int>(pass.chord->noteCount));
  std::uint32_t sums[Renderer::blockSamples];
  for (std::size_t from = 0; from < count; from += Renderer::blockSamples) {
    std::size_t part = std::min(count - from, Renderer::blockSamples);
    std::uint32_t recheck = sumFixedSet(rows, times, terms, part, edge, sums, out + from);
    for (int i = 0; i < terms; ++i) rows[i] += part;
    recheckSums(renderer, pass, recheck, setStretch, sums, edge, pass.done + from, part,
                out + from);
  }
  pass.done += count;
}

}  // namespace

void recheckSums(const Renderer& renderer, const ChordPass& pass, std::uint32_t marked,
                 std::size_t stretch, const std::uint32_t* sums, std::uint32_t edge,
                 std::size_t first, std::size_t part, unsigned char* out, bool every) {
  every = every || renderer.exactSamples;
  if (every) marked = ~0u;
  if (marked == 0 || part == 0) return;
  const Chord& chord = *pass.chord;
  const double* rowOf[scoreFormat::pitchCount] = {};
  for (std::int64_t i = 0; i < chord.noteCount; ++i) {
    rowOf[chord.notes[i]] = renderer.rows[chord.notes[i]].get() + first;
  }
  for (; marked != 0; marked &= marked - 1) {
    std::size_t from = static_cast<std::size_t>(__builtin_ctz(marked)) * stretch;
    for (std::size_t k = from; k < std::min(part, from + stretch); ++k) {
      if (every || fixedSum::unsure(sums[k], edge)) {
        sumTile<1>(rowOf, chord.notes, chord.noteCount, pass.gain, k, out);
      }
    }
  }
}

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
  const std::int32_t* rows[fewNotes];
  std::uint32_t times[fewNotes];
  for (std::int64_t i = 0; i < chord.noteCount; ++i) {
    rows[i] = renderer.fixedRows[chord.noteCount - 1][chord.notes[i]].get() + pass.done;
    times[i] = 1;  // a row a note, repeated pitches and all
  }
  sumFixedTerms(renderer, pass, rows, times, static_cast<int>(chord.noteCount), count, out);
}

const Renderer::FixedSet* ensureFixedSet(Renderer& renderer, const PitchSet& set,
                                         std::int64_t noteCount, double gain) {
  Renderer::FixedSet* found = nullptr;
  for (Renderer::FixedSet& candidate : renderer.fixedSets) {
    if (candidate.noteCount == noteCount || (found == nullptr && candidate.noteCount == 0)) {
      found = &candidate;
      if (candidate.noteCount == noteCount) break;
    }
  }
  if (found == nullptr) return nullptr;  // the first few note counts took every set
  found->noteCount = noteCount;
  std::size_t rowBytes = renderer.timeCount * sizeof(std::int32_t);
  for (int i = 0; i < set.count; ++i) {
    int pitch = set.pitches[i];
    OwnedArray<std::int32_t>& row = found->rows[pitch];
    if (row) continue;
    if (renderer.fixedSetBytes + rowBytes > fixedSetBudget) return nullptr;
    row = allocateArray<std::int32_t>(renderer.timeCount);
    if (!row) return nullptr;
    const double* ramps = renderer.rows[pitch].get();
    for (std::size_t k = 0; k < renderer.timeCount; ++k) {
      row[k] = fixedSum::fixedValue(ramps[k], gain);
    }
    renderer.fixedSetBytes += rowBytes;
  }
  return found;
}

void renderFixedSet(Renderer& renderer, ChordPass& pass, std::size_t count, unsigned char* out) {
  const std::int32_t* rows[scoreFormat::pitchCount];
  std::uint32_t times[scoreFormat::pitchCount];
  for (int i = 0; i < pass.pitches.count; ++i) {
    int pitch = pass.pitches.pitches[i];
    rows[i] = pass.fixedSet->rows[pitch].get() + pass.done;
    times[i] = static_cast<std::uint32_t>(pass.counts[pitch]);
  }
  sumFixedTerms(renderer, pass, rows, times, pass.pitches.count, count, out);
}

}  // namespace render
