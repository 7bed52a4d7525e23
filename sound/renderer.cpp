#include "sound/renderer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "sound/chord_cache.h"
#include "sound/fixed_sum.h"
#include "sound/period_table.h"
#include "sound/wave_format.h"

namespace {

// Below this chord time every quotient t / P is under 2^21, so the split
// periods give exact products (the shortest period is 0.0006 s).
constexpr double exactRemainderLimit = 1024.0;
constexpr std::size_t tableBudget = 4u << 20;  // bytes of time and ramp tables
constexpr std::int64_t endlessChord = std::numeric_limits<std::int64_t>::max();

// Vector width pays off most in these loops; pick it when the machine runs.
// SCORE2WAV_NO_CLONES builds only the default clone, so that tests reach it.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__ELF__) && \
    !defined(SCORE2WAV_NO_CLONES)
#define SCORE2WAV_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define SCORE2WAV_VECTOR_CLONES
#endif
#if defined(__GNUC__)
#define SCORE2WAV_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define SCORE2WAV_ALWAYS_INLINE inline
#endif

// Chords of up to this many notes are summed in one pass over their samples.
constexpr std::int64_t fewNotes = Renderer::fewNotes;
// Chords of at least this many notes are summed from the counts of their
// pitches (at most pitchCount terms a sample, not one a note).
constexpr std::int64_t manyNotes = 64;

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

// The sample of a sum u: the low 8 bits of u + 128 truncated toward zero.
SCORE2WAV_ALWAYS_INLINE unsigned char sampleOf(double u) {
  return static_cast<unsigned char>(static_cast<std::int32_t>(u + 128.0));
}

// Samples of a chord of N notes whose ramp rows are rows[0..N), in one pass:
// u = 0, then u = ramp * gain + u for each note in order.
template <int N>
SCORE2WAV_ALWAYS_INLINE void sumFewKernel(const double* const* rows, double gain, std::size_t count,
                                          unsigned char* out) {
  const double* row[N];
  for (int i = 0; i < N; ++i) row[i] = rows[i];
  for (std::size_t k = 0; k < count; ++k) {
    double u = 0.0;
    for (int i = 0; i < N; ++i) u = row[i][k] * gain + u;
    out[k] = sampleOf(u);
  }
}

SCORE2WAV_VECTOR_CLONES
void sumFewNotes(const double* const* rows, std::int64_t noteCount, double gain, std::size_t count,
                 unsigned char* out) {
  switch (noteCount) {
    case 1: sumFewKernel<1>(rows, gain, count, out); break;
    case 2: sumFewKernel<2>(rows, gain, count, out); break;
    case 3: sumFewKernel<3>(rows, gain, count, out); break;
    default: sumFewKernel<4>(rows, gain, count, out); break;
  }
}

// Samples k..k+T of a chord of any number of notes: the T sums stay in
// registers while each note, in order, is added to them.
template <std::size_t T>
SCORE2WAV_ALWAYS_INLINE void sumTile(const double* const* rowOf, const std::int16_t* notes,
                                     std::int64_t noteCount, double gain, std::size_t k,
                                     unsigned char* out) {
  double u[T];
  for (std::size_t t = 0; t < T; ++t) u[t] = 0.0;
  for (std::int64_t i = 0; i < noteCount; ++i) {
    const double* row = rowOf[notes[i]] + k;
    for (std::size_t t = 0; t < T; ++t) u[t] = row[t] * gain + u[t];
  }
  for (std::size_t t = 0; t < T; ++t) out[k + t] = sampleOf(u[t]);
}

// Samples of a chord of any number of notes. A short stretch goes in tiles
// of register size, each over all the notes (as few tiles as may be: each
// reads every note); a long one (at most a block)
// a note at a time over all its sums, which streams best from memory.
// Either way each sum takes the notes in order.
SCORE2WAV_VECTOR_CLONES
void sumManyNotes(const double* const* rowOf, const std::int16_t* notes, std::int64_t noteCount,
                  double gain, std::size_t count, double* sums, unsigned char* out) {
  if (count >= 64) {
    for (std::size_t k = 0; k < count; ++k) sums[k] = 0.0;
    for (std::int64_t i = 0; i < noteCount; ++i) {
      const double* row = rowOf[notes[i]];
      for (std::size_t k = 0; k < count; ++k) sums[k] = row[k] * gain + sums[k];
    }
    for (std::size_t k = 0; k < count; ++k) out[k] = sampleOf(sums[k]);
    return;
  }
  std::size_t k = 0;
  for (; k + 16 <= count; k += 16) sumTile<16>(rowOf, notes, noteCount, gain, k, out);
  for (; k + 8 <= count; k += 8) sumTile<8>(rowOf, notes, noteCount, gain, k, out);
  for (; k + 4 <= count; k += 4) sumTile<4>(rowOf, notes, noteCount, gain, k, out);
  for (; k < count; ++k) sumTile<1>(rowOf, notes, noteCount, gain, k, out);
}

// Renders count samples of a chord from the ramp rows of its pitches.
void sumNotes(const double* const* rowOf, const Chord& chord, double gain, std::size_t count,
              double* sums, unsigned char* out) {
  if (chord.noteCount > fewNotes) {
    sumManyNotes(rowOf, chord.notes, chord.noteCount, gain, count, sums, out);
    return;
  }
  const double* rows[fewNotes];
  for (std::int64_t i = 0; i < chord.noteCount; ++i) rows[i] = rowOf[chord.notes[i]];
  sumFewNotes(rows, chord.noteCount, gain, count, out);
}

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

// Fills times[0..count) with the chord times from t on, and returns the next.
double fillTimes(double t, double step, std::size_t count, double* times) {
  for (std::size_t k = 0; k < count; ++k) {
    times[k] = t;
    t = t + step;
  }
  return t;
}

// The distinct pitches of a chord.
struct PitchSet {
  int pitches[scoreFormat::pitchCount];
  int count = 0;
};

// Returns each pitch of the chord once, in order of first appearance.
PitchSet pitchesOf(const Chord& chord) {
  bool seen[scoreFormat::pitchCount] = {};
  PitchSet set;
  for (std::int64_t i = 0; i < chord.noteCount; ++i) {
    int pitch = chord.notes[i];
    if (!seen[pitch]) set.pitches[set.count++] = pitch;
    seen[pitch] = true;
  }
  return set;
}

// Returns the chord's distinct pitches in rising order, and stores at
// counts[pitch] how many of its notes have each pitch. Four tallies take
// turns, so that a run of one pitch does not wait on its own last count.
PitchSet countPitches(const Chord& chord, std::int64_t* counts) {
  std::int64_t tally[4][scoreFormat::pitchCount] = {};
  const std::int16_t* notes = chord.notes;
  std::int64_t i = 0;
  for (; i + 4 <= chord.noteCount; i += 4) {
    for (int j = 0; j < 4; ++j) ++tally[j][notes[i + j]];
  }
  for (; i < chord.noteCount; ++i) ++tally[0][notes[i]];
  PitchSet set;
  for (int pitch = 0; pitch < scoreFormat::pitchCount; ++pitch) {
    counts[pitch] = tally[0][pitch] + tally[1][pitch] + tally[2][pitch] + tally[3][pitch];
    if (counts[pitch] > 0) set.pitches[set.count++] = pitch;
  }
  return set;
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

// One chord on its way through the renderer.
struct ChordPass {
  const Chord* chord = nullptr;
  PitchSet pitches;
  double gain = 0.0;
  bool fromTables = false;                       // ramp rows come from the score's tables
  bool fixed = false;                            // and fixed-point rows too
  bool counted = false;                          // a chord of many notes, summed from counts
  std::int64_t counts[scoreFormat::pitchCount];  // notes of each pitch, when counted
  std::size_t done = 0;                          // samples rendered so far
  double t = 0.0;                                // chord time of the next sample
};

// Frees the score's time and ramp tables.
void dropTables(Renderer& renderer) {
  for (OwnedArray<double>& row : renderer.rows) row.reset();
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

// Renders the pass's next count samples into out (the scratch is ready).
void renderNext(Renderer& renderer, ChordPass& pass, std::size_t count, unsigned char* out) {
  if (pass.fixed) {
    renderFixed(renderer, pass, count, out);
    return;
  }
  const double* rowOf[scoreFormat::pitchCount] = {};
  while (count > 0) {
    std::size_t part = std::min(count, Renderer::blockSamples);
    if (!pass.fromTables) {
      pass.t = fillTimes(pass.t, renderer.settings.sampleStep, part, renderer.blockTimes.get());
    }
    for (int i = 0; i < pass.pitches.count; ++i) {
      int pitch = pass.pitches.pitches[i];
      if (pass.fromTables) {
        rowOf[pitch] = renderer.rows[pitch].get() + pass.done;
      } else {
        double* row =
            renderer.blockRows.get() + static_cast<std::size_t>(pitch) * Renderer::blockSamples;
        rampValues(pitch, renderer.blockTimes.get(), part, row);
        rowOf[pitch] = row;
      }
    }
    if (pass.counted) {
      sumCountedNotes(rowOf, pass, part, renderer.exactSamples, out);
    } else {
      sumNotes(rowOf, *pass.chord, pass.gain, part, renderer.sums.get(), out);
    }
    pass.done += part;
    out += part;
    count -= part;
  }
}

// Writes count silent samples.
bool writeSilence(OutputBuffer& output, std::int64_t count) {
  while (count > 0) {
    std::size_t room = 0;
    unsigned char* space = outputSpace(output, room);
    if (room == 0) return false;
    std::size_t part =
        static_cast<std::size_t>(std::min<std::int64_t>(count, static_cast<std::int64_t>(room)));
    std::memset(space, waveSilence, part);
    commitSpace(output, part);
    count -= static_cast<std::int64_t>(part);
  }
  return !output.failed;
}

// Renders the whole chord straight into the output's blocks.
bool streamChord(Renderer& renderer, ChordPass& pass, OutputBuffer& output) {
  std::size_t total = static_cast<std::size_t>(renderer.chordSamples);
  if (!ensureScratch(renderer, pass.fromTables)) return false;
  while (pass.done < total) {
    std::size_t room = 0;
    unsigned char* space = outputSpace(output, room);
    if (room == 0) return false;
    std::size_t part = std::min(room, total - pass.done);
    renderNext(renderer, pass, part, space);
    commitSpace(output, part);
  }
  return !output.failed;
}

}  // namespace

double amplitudeFactor(std::int64_t noteCount, std::int64_t maxChordNotes) {
  // With no chord of two notes the general formula divides 0 by 0.
  if (noteCount == 1 && maxChordNotes <= 1) return 60.0;
  double n = static_cast<double>(noteCount);
  double spread = static_cast<double>(maxChordNotes - 1);
  return ((60.0 / n) / spread) * (static_cast<double>(maxChordNotes + noteCount) - 2.0);
}

namespace {

// Counts the chord times t, t + step, ... below limit while every addition
// stays in t's binade [2^(e-1), 2^e), where it always adds the same amount:
// t is a multiple of the binade's unit, and step is never half a unit off
// one (step = 1/8000 is an odd multiple of 2^-63, the units here >= 2^-52).
// Returns the count and leaves t at the first value at or beyond limit or
// beyond the binade; returns endlessChord if step no longer moves t.
std::int64_t countWithinBinade(double& t, double limit, double step) {
  int exponent = 0;
  std::frexp(t, &exponent);
  double top = std::ldexp(1.0, exponent);
  double unit = std::ldexp(1.0, exponent - 53);
  double end = std::min(limit, top);  // a multiple of unit
  auto units = [unit](double value) { return static_cast<std::int64_t>(value / unit); };
  std::int64_t first = units(t);
  std::int64_t stride = units((t + step) - t);
  if (stride == 0) return endlessChord;  // from 2^40 s on, t + step is t
  std::int64_t count = (units(end) - first + stride - 1) / stride;
  double last = static_cast<double>(first + (count - 1) * stride) * unit;
  t = last + step;
  return count;
}

}  // namespace

std::int64_t samplesPerChord(double noteDuration, double sampleStep) {
  std::int64_t count = 0;
  double t = 0.0;
  // Below one second the plain walk is short, and covers the small binades
  // where an addition could fall on a tie.
  while (noteDuration > t && t < 1.0) {
    ++count;
    t = t + sampleStep;
  }
  while (noteDuration > t) {
    std::int64_t more = countWithinBinade(t, noteDuration, sampleStep);
    if (more == endlessChord) return endlessChord;
    count += more;
  }
  return count;
}

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

void rampValues(int pitch, const double* times, std::size_t count, double* ramps) {
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

void startRenderer(Renderer& renderer, const RenderSettings& settings) {
  renderer.settings = settings;
  renderer.chordSamples = samplesPerChord(settings.noteDuration, settings.sampleStep);
  dropTables(renderer);
  resetCache(renderer.cache);
  renderer.outOfMemory = false;
  // Tables pay off only if the times leave room for several rows; without
  // the memory for them, chords are rendered block by block.
  std::int64_t tabledSamples = static_cast<std::int64_t>(tableBudget / 4 / sizeof(double));
  if (renderer.chordSamples > 0 && renderer.chordSamples <= tabledSamples) {
    std::size_t count = static_cast<std::size_t>(renderer.chordSamples);
    renderer.times = newDoubles(count);
    if (renderer.times) {
      renderer.timeCount = count;
      fillTimes(0.0, settings.sampleStep, count, renderer.times.get());
      renderer.tableBytes = count * sizeof(double);
    }
  }
  // Scratch space, taken when a chord first needs it.
  renderer.blockTimes.reset();
  renderer.blockRows.reset();
  renderer.sums.reset();
}

bool renderChordAnew(Renderer& renderer, OutputBuffer& output, const Chord& chord) {
  if (chord.noteCount == 0 || renderer.chordSamples == 0) {  // a rest, or chords of no samples
    forgetLast(renderer.cache);
    return writeSilence(output, chord.noteCount == 0 ? renderer.chordSamples : 0);
  }
  std::size_t bytes = static_cast<std::size_t>(renderer.chordSamples);
  CacheLookup lookup;
  if (const unsigned char* kept = findChord(renderer.cache, chord, bytes, lookup)) {
    return writeOutput(output, kept, bytes);
  }
  ChordPass pass;
  pass.chord = &chord;
  pass.counted = chord.noteCount >= manyNotes;
  pass.pitches = pass.counted ? countPitches(chord, pass.counts) : pitchesOf(chord);
  pass.gain = amplitudeFactor(chord.noteCount, renderer.settings.maxChordNotes);
  pass.fromTables = ensureRows(renderer, pass.pitches);
  pass.fixed = pass.fromTables && chord.noteCount <= fewNotes &&
               ensureFixedRows(renderer, pass.pitches, chord.noteCount, pass.gain);
  unsigned char* samples = keepChord(renderer.cache, lookup, chord, bytes);
  if (samples == nullptr) return streamChord(renderer, pass, output);
  if (!ensureScratch(renderer, pass.fromTables)) return false;
  renderNext(renderer, pass, bytes, samples);
  return writeOutput(output, samples, bytes);
}
