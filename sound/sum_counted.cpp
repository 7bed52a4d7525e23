// Counted pitches: chords of 64 notes or more summed from how many notes
// each pitch has, in 64-bit fixed point (fixed_sum.h): a term per distinct
// pitch, not an addition per note; a sample the counted sum cannot name for
// sure is recomputed in doubles.
#include <algorithm>
#include <cmath>

#include "sound/fixed_sum.h"
#include "sound/render_parts.h"

namespace render {

// Returns the chord's distinct pitches in rising order, and stores at
// counts[pitch] how many of its notes have each pitch. In a chord of many
// notes four tallies take turns, so that a run of one pitch does not wait
// on its own last count.
PitchSet countPitches(const Chord& chord, std::int64_t* counts) {
  static_assert(scoreFormat::pitchCount <= 64, "a chord's pitches fit a 64-bit mask");
  const std::int16_t* notes = chord.notes;
  PitchSet set;
  for (int pitch = 0; pitch < scoreFormat::pitchCount; ++pitch) counts[pitch] = 0;
  if (chord.noteCount < manyNotes) {
    // Few notes: their pitches, rising, from a bit each.
    std::uint64_t seen = 0;
    for (std::int64_t i = 0; i < chord.noteCount; ++i) {
      ++counts[notes[i]];
      seen |= std::uint64_t{1} << notes[i];
    }
    for (; seen != 0; seen &= seen - 1) set.pitches[set.count++] = __builtin_ctzll(seen);
    return set;
  }
  std::int64_t tally[4][scoreFormat::pitchCount] = {};
  std::int64_t i = 0;
  for (; i + 4 <= chord.noteCount; i += 4) {
    for (int j = 0; j < 4; ++j) ++tally[j][notes[i + j]];
  }
  for (; i < chord.noteCount; ++i) ++tally[0][notes[i]];
  for (int pitch = 0; pitch < scoreFormat::pitchCount; ++pitch) {
    counts[pitch] = tally[0][pitch] + tally[1][pitch] + tally[2][pitch] + tally[3][pitch];
    set.pitches[set.count] = pitch;  // kept only if counted: no branch to mispredict
    set.count += counts[pitch] > 0 ? 1 : 0;
  }
  return set;
}

namespace {

// Stores at out[k] sample k of a counted chord by the double formula: at
// once when all its terms are equal (every ramp is -1 at the chord's start,
// and a chord may have one pitch), else note by note; always note by note
// if literal.
void uncountedSample(const double* const* rowOf, const ChordPass& pass, std::size_t k, bool literal,
                     unsigned char* out) {
  const Chord& chord = *pass.chord;
  double term = rowOf[pass.pitches.pitches[0]][k] * pass.gain;
  bool same = !literal;
  for (int i = 1; i < pass.pitches.count && same; ++i) {
    same = rowOf[pass.pitches.pitches[i]][k] * pass.gain == term;
  }
  if (same) {
    out[k] = sampleOf(repeatedSum(term, chord.noteCount));
  } else {
    sumTile<1>(rowOf, chord.notes, chord.noteCount, pass.gain, k, out);
  }
}

}  // namespace

// Samples of a chord of many notes from the counts of its pitches (see
// fixed_sum.h), a tile at a time; those the counted sum cannot name (every
// one, if all are to be exact) come from uncountedSample.
void sumCountedNotes(const double* const* rowOf, const ChordPass& pass, std::size_t count,
                     bool allExact, unsigned char* out) {
  using namespace fixedSum;
  constexpr std::size_t tile = 64;
  const std::uint64_t edge = countedEdge(pass.chord->noteCount);
  for (std::size_t from = 0; from < count; from += tile) {
    std::size_t part = std::min(tile, count - from);
    std::uint64_t sums[tile];  // wrap around as the signed terms are added
    for (std::size_t k = 0; k < part; ++k) sums[k] = countedMidpoint;
    for (int i = 0; i < pass.pitches.count; ++i) {
      int pitch = pass.pitches.pitches[i];
      const double* row = rowOf[pitch] + from;
      auto times = static_cast<std::uint64_t>(pass.counts[pitch]);
      for (std::size_t k = 0; k < part; ++k) {
        sums[k] += times * static_cast<std::uint64_t>(countedValue(row[k], pass.gain));
      }
    }
    for (std::size_t k = 0; k < part; ++k) {
      if (allExact || countedUnsure(sums[k], edge)) {
        uncountedSample(rowOf, pass, from + k, allExact, out);
      } else {
        out[from + k] = static_cast<unsigned char>(sums[k] >> countedShift);
      }
    }
  }
}

}  // namespace render

double repeatedSum(double term, std::int64_t count) {
  double u = 0.0;
  int binade = 0;        // the exponent of u
  bool settled = false;  // u came from a step within its binade
  while (count > 0) {
    double next = term + u;
    --count;
    int to = 0;
    std::frexp(next, &to);
    bool within = u != 0.0 && to == binade;
    if (within && settled && count > 0) {
      // Within a binade the unit is fixed and every sum a multiple of it,
      // so each step from a sum the binade's own rounding gave (an even
      // one, when the term is half a unit off) adds the same stride. Take
      // the steps that keep two strides clear of the binade's top.
      double stride = next - u;  // exact: both lie in the binade
      double room = (std::ldexp(1.0, to) - std::fabs(next)) / std::fabs(stride) - 2.0;
      std::int64_t more = room >= static_cast<double>(count) ? count
                          : room > 0.0                       ? static_cast<std::int64_t>(room)
                                                             : 0;
      next += static_cast<double>(more) * stride;  // exact: a multiple of the unit in the binade
      count -= more;
    }
    settled = within;
    u = next;
    binade = to;
  }
  return u;
}
