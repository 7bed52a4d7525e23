// The score's tables: the chord time of every sample and each pitch's ramp
// values at those times, shared by every chord of the score within a fixed
// budget, and the scratch space of a block for chords rendered without them.
#include <algorithm>
#include <cmath>

#include "base/cpu_features.h"
#include "sound/period_table.h"
#include "sound/render_parts.h"

namespace render {

namespace {

// Returns fmod(t, P) for 0 <= t < exactRemainderLimit. The quotient t / P,
// rounded, is the true one or one more (never less, as rounding to nearest
// cannot fall below a whole number); t - q * P is then computed exactly from
// the split period, and a negative result means q was one too many.
inline double exactRemainder(double t, double period, double high, double low) {
  double q = static_cast<double>(static_cast<std::int32_t>(t / period));
  double r = (t - q * high) - q * low;
  q = r < 0.0 ? q - 1.0 : q;
  return (t - q * high) - q * low;
}

}  // namespace

// Fills times[0..count) with the chord times from t on, and returns the next.
double fillTimes(double t, double step, std::size_t count, double* times) {
  for (std::size_t k = 0; k < count; ++k) {
    times[k] = t;
    t = t + step;
  }
  return t;
}

// Returns a new array of count doubles, or null if memory is short.
OwnedArray<double> newDoubles(std::size_t count) { return allocateArray<double>(count); }

// Builds the missing ramp rows of the chord's pitches within the table
// budget (and the memory there is); returns true if every pitch of the chord
// has its row.
bool ensureRows(Renderer& renderer, const PitchSet& set) {
  if (!renderer.times) return false;
  std::size_t rowBytes = renderer.timeCount * sizeof(double);
  for (int i = 0; i < set.count; ++i) {
    OwnedArray<double>& row = renderer.rows[set.pitches[i]];
    if (row) continue;
    if (renderer.tableBytes + rowBytes > tableBudget) return false;
    row = newDoubles(renderer.timeCount);
    if (!row) return false;
    rampValues(set.pitches[i], renderer.times.get(), renderer.timeCount, row.get());
    renderer.tableBytes += rowBytes;
  }
  return true;
}

// Frees the score's time and ramp tables.
void dropTables(Renderer& renderer) {
  for (OwnedArray<double>& row : renderer.rows) row.reset();
  for (OwnedArray<std::uint64_t>& row : renderer.wrapBits) row.reset();
  for (OwnedArray<std::uint8_t>& row : renderer.wrapSteps) row.reset();
  for (OwnedArray<std::uint16_t>& row : renderer.wrapStarts) row.reset();
  for (Renderer::FallSet& set : renderer.fallSets) {
    for (OwnedArray<std::uint8_t>& row : set.rows) row.reset();
    set.fall = 0;
  }
  for (Renderer::FixedSet& set : renderer.fixedSets) {
    for (OwnedArray<std::int32_t>& row : set.rows) row.reset();
    set.noteCount = 0;
  }
  renderer.fixedSetBytes = 0;
  for (auto& rows : renderer.fixedRows) {
    for (OwnedArray<std::int32_t>& row : rows) row.reset();
  }
  renderer.times.reset();
  renderer.timeCount = 0;
  renderer.tableBytes = 0;
}

// Takes the scratch space a chord needs, once per score; false if memory is short.
// The tables are only a faster way: when memory is short for the scratch
// space of the exact way, they go, and every chord takes the exact way.
bool ensureScratch(Renderer& renderer, bool fromTables) {
  if (!renderer.sums) renderer.sums = newDoubles(Renderer::blockSamples);
  if (!fromTables && !renderer.blockRows) {
    for (int attempt = 0; attempt < 2 && !renderer.blockRows; ++attempt) {
      if (attempt == 1) dropTables(renderer);
      renderer.blockTimes = newDoubles(Renderer::blockSamples);
      renderer.blockRows = newDoubles(Renderer::blockSamples * scoreFormat::pitchCount);
      if (!renderer.blockTimes) renderer.blockRows.reset();
    }
  }
  bool ready = renderer.sums && (fromTables || (renderer.blockTimes && renderer.blockRows));
  renderer.outOfMemory = !ready;
  return ready;
}

}  // namespace render

using render::exactRemainder;
using render::exactRemainderLimit;

SCORE2WAV_ALWAYS_INLINE void rampValuesBody(int pitch, const double* times, std::size_t count,
                                            double* ramps) {
  const double period = periodTable[pitch];
  const double high = periodHigh[pitch];
  const double low = periodLow[pitch];
  // Times only grow, so the exact loop covers a prefix.
  std::size_t exact =
      static_cast<std::size_t>(std::lower_bound(times, times + count, exactRemainderLimit) - times);
  for (std::size_t k = 0; k < exact; ++k) {
    ramps[k] = (exactRemainder(times[k], period, high, low) * 2.0) / period - 1.0;
  }
  for (std::size_t k = exact; k < count; ++k) {
    ramps[k] = (std::fmod(times[k], period) * 2.0) / period - 1.0;
  }
}
SCORE2WAV_TWINS(void, rampValues,
                (int pitch, const double* times, std::size_t count, double* ramps),
                (pitch, times, count, ramps))
