// The renderer's parts, shared by the files that hold its ways of summing
// a chord (sum_tiles, sum_fixed_rows, sum_wraps with its kernels in
// wrap_kernel, sum_counted), its tables (ramp_tables) and the renderer that
// picks among them (renderer.cpp).
// Not for use outside sound/.
#pragma once

#include <cstddef>
#include <cstdint>

#include "score/chord.h"
#include "score/score_format.h"
#include "sound/renderer.h"

// The summing loops are built twice, for AVX2 and the baseline, the first
// taken where the processor has it (SCORE2WAV_TWINS, base/cpu_features.h).
#if defined(__GNUC__)
#define SCORE2WAV_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define SCORE2WAV_ALWAYS_INLINE inline
#endif

namespace render {

// Below this chord time every quotient t / P is under 2^21, so the split
// periods give exact products (the shortest period is 0.0006 s).
constexpr double exactRemainderLimit = 1024.0;
constexpr std::size_t tableBudget = 4u << 20;     // bytes of time and ramp tables
constexpr std::size_t fixedSetBudget = 4u << 20;  // bytes of the fixed sets' rows

// Chords of up to this many notes are summed in one pass over their samples.
constexpr std::int64_t fewNotes = Renderer::fewNotes;
// Chords of at least this many notes are summed from the counts of their
// pitches (at most pitchCount terms a sample, not one a note).
constexpr std::int64_t manyNotes = 64;
// Chords of up to this many notes may take fixed sets: the fixed sum's
// bound (fixed_sum.h) holds far beyond, and larger chords are rare.
constexpr std::int64_t fixedSetNotes = 4096;

// The sample of a sum u: the low 8 bits of u + 128 truncated toward zero.
SCORE2WAV_ALWAYS_INLINE unsigned char sampleOf(double u) {
  return static_cast<unsigned char>(static_cast<std::int32_t>(u + 128.0));
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

// The distinct pitches of a chord.
struct PitchSet {
  int pitches[scoreFormat::pitchCount];
  int count = 0;
};

// One chord on its way through the renderer.
struct ChordPass {
  const Chord* chord = nullptr;
  PitchSet pitches;
  double gain = 0.0;
  bool fromTables = false;                       // ramp rows come from the score's tables
  bool fixed = false;                            // and fixed-point rows too
  bool counted = false;                          // a chord of many notes, summed from counts
  bool wraps = false;                            // summed from its pitches' wrap rows
  WrapLine line;                                 // then its line, product and edge
  const Renderer::FallSet* falls = nullptr;      // and its fall's rows, if whole
  const Renderer::FixedSet* fixedSet = nullptr;  // its note count's fixed rows, if they fit
  std::int64_t counts[scoreFormat::pitchCount];  // notes of each pitch, when counted
  std::size_t done = 0;                          // samples rendered so far
  double t = 0.0;                                // chord time of the next sample
};

// Ramp tables and scratch space (ramp_tables.cpp).
double fillTimes(double t, double step, std::size_t count, double* times);
OwnedArray<double> newDoubles(std::size_t count);
bool ensureRows(Renderer& renderer, const PitchSet& set);
void dropTables(Renderer& renderer);
bool ensureScratch(Renderer& renderer, bool fromTables);

// Tiles: double sums, note by note in order (sum_tiles.cpp).
void sumNotes(const double* const* rowOf, const Chord& chord, double gain, std::size_t count,
              double* sums, unsigned char* out);

// Fixed rows: chords of up to fewNotes notes (sum_fixed_rows.cpp).
bool ensureFixedRows(Renderer& renderer, const PitchSet& set, std::int64_t noteCount, double gain);
void renderFixed(Renderer& renderer, ChordPass& pass, std::size_t count, unsigned char* out);

// Fixed sets: chords of more than fewNotes notes, while their note count's
// rows fit (sum_fixed_rows.cpp).
const Renderer::FixedSet* ensureFixedSet(Renderer& renderer, const PitchSet& set,
                                         std::int64_t noteCount, double gain);
void renderFixedSet(Renderer& renderer, ChordPass& pass, std::size_t count, unsigned char* out);

// Recomputes by the double formula, note by note, the samples of a block
// (first its first sample in the chord, part long, written at out) whose
// fixed sums lie within edge units of a whole number, looking only in the
// stretches marked (a bit each of stretch samples); every sample there if
// every, or if the renderer is told to (sum_fixed_rows.cpp).
void recheckSums(const Renderer& renderer, const ChordPass& pass, std::uint32_t marked,
                 std::size_t stretch, const std::uint32_t* sums, std::uint32_t edge,
                 std::size_t first, std::size_t part, unsigned char* out, bool every = false);

// Wraps: chords from the periods their pitches have begun, while those fit
// 16 bits, or from their falls where those are whole (sum_wraps.cpp).
// prepareWraps builds the rows the chord needs, sets the pass's line and
// returns true if the chord can take them.
bool prepareWraps(Renderer& renderer, ChordPass& pass);
void renderWraps(Renderer& renderer, ChordPass& pass, std::size_t count, unsigned char* out);

// Counted pitches: chords of manyNotes notes or more (sum_counted.cpp).
PitchSet countPitches(const Chord& chord, std::int64_t* counts);
void sumCountedNotes(const double* const* rowOf, const ChordPass& pass, std::size_t count,
                     bool allExact, unsigned char* out);

}  // namespace render
