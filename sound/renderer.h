// Renders chords into 8-bit samples: each note a rising sawtooth, the notes
// of a chord added and scaled, offset to the unsigned midpoint 128.
//
// Every sample is bit for bit the defining formula
//   u = ((fmod(t, P) * 2.0) / P - 1.0) * g + u   (for each note, in order)
//   sample = low 8 bits of (int32) (u + 128.0)
// with t = 0, then t + 1/8000 again and again, restarting at every chord.
// The renderer reaches it faster: the ramp values ((fmod(t, P) * 2.0) / P -
// 1.0) are shared by every chord of a score and kept in tables, a chord met
// again is copied from a cache, chords of few notes or many are summed in
// fixed point where that names the sample for sure, and the remainder is
// computed exactly without fmod. Tables and cache have fixed budgets, so memory stays bounded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/allocation.h"
#include "score/chord.h"
#include "score/score_format.h"
#include "sound/chord_cache.h"
#include "sound/output_buffer.h"
#include "sound/wrap_kernel.h"

// What every chord of one score shares.
struct RenderSettings {
  double noteDuration = 0.0;       // seconds of every chord
  std::int64_t maxChordNotes = 0;  // most note letters in a chord of the score
  double sampleStep = 1.0 / 8000;  // seconds between samples: 1 / byte rate
};

// Returns the amplitude factor of a chord of noteCount notes in a score whose
// largest chord has maxChordNotes letters: 60 for one note, 120 in all for a
// chord of maxChordNotes notes. Only meaningful for noteCount >= 1.
double amplitudeFactor(std::int64_t noteCount, std::int64_t maxChordNotes);

// Returns how many samples one chord of the given duration yields: the number
// of values the chord time takes below the duration, starting at 0 and adding
// sampleStep in double precision each time. Fast for any duration; from
// about 2^40 s on, adding sampleStep no longer moves t, and the result is
// INT64_MAX for a chord that would never end.
std::int64_t samplesPerChord(double noteDuration, double sampleStep);

// Returns the sum of count terms all equal to term, added one at a time in
// double precision (u = term + u from u = 0), in a few steps a binade: a
// sample whose notes all add the same term.
double repeatedSum(double term, std::int64_t count);

// Stores at ramps[k] the ramp value ((fmod(times[k], P) * 2.0) / P - 1.0) of
// pitch for each of the count times.
void rampValues(int pitch, const double* times, std::size_t count, double* ramps);

// The renderer's state for one score: settings, tables and cache.
struct Renderer {
  static constexpr std::size_t blockSamples = 2048;  // samples summed at once

  RenderSettings settings;
  std::int64_t chordSamples = 0;  // samples of every chord
  // Whole-chord tables, when they fit their budget: the chord time of every
  // sample, and the ramp values of each pitch at those times (built when a
  // chord first needs them).
  OwnedArray<double> times;
  std::size_t timeCount = 0;  // entries of times and of each row
  OwnedArray<double> rows[scoreFormat::pitchCount];
  // For chords of up to fewNotes notes, the rows in fixed point (see
  // fixed_sum.h): for each note count (whose gain they carry) and pitch,
  // built when a chord first needs them.
  static constexpr int fewNotes = 4;
  OwnedArray<std::int32_t> fixedRows[fewNotes][scoreFormat::pitchCount];
  // For chords of more notes, the same for the first few note counts the
  // score's chords have (each count its own gain), within a budget of their
  // own: each chord then costs an integer sum a distinct pitch.
  struct FixedSet {
    std::int64_t noteCount = 0;  // the chords' notes whose gain the rows carry (0: unused)
    OwnedArray<std::int32_t> rows[scoreFormat::pitchCount];
  };
  static constexpr int fixedSetCount = 4;
  FixedSet fixedSets[fixedSetCount];
  std::size_t fixedSetBytes = 0;
  // For the wrap sums, each pitch's periods begun (see sum_wraps.cpp),
  // shared by every note count: where each begins, and how many by the
  // start of each stretch (and by the chord's last sample).
  OwnedArray<std::uint64_t> wrapBits[scoreFormat::pitchCount];    // a bit a sample
  OwnedArray<std::uint8_t> wrapSteps[scoreFormat::pitchCount];    // begun in the stretch
  OwnedArray<std::uint16_t> wrapStarts[scoreFormat::pitchCount];  // by each stretch's start
  std::uint32_t wrapMost[scoreFormat::pitchCount] = {};           // periods a stretch may begin
  // For the wrap sums of chords whose fall (2 g) is a whole number, each
  // pitch's falls by each sample, modulo 256 (see sum_wraps.cpp): a byte a
  // sample, for the first few falls the score's chords have.
  struct FallSet {
    std::uint32_t fall = 0;  // the chords' fall the rows carry (0: unused)
    OwnedArray<std::uint8_t> rows[scoreFormat::pitchCount];
  };
  static constexpr int fallSetCount = 4;
  FallSet fallSets[fallSetCount];
  WrapKernel wrapKernel = chosenWrapKernel();  // counts periods in stretches
  std::size_t tableBytes = 0;
  bool exactSamples = false;  // recompute every fixed-point sample the double way (for tests)
  // Chords of at least this many notes take the wrap sums where they fit
  // (wrapSumsFrom: as many as their kernel beats the fixed rows at; tests
  // set 1 to reach the kernels, or none to reach the other ways).
  std::int64_t wrapNotes = wrapSumsFrom(chosenWrapKernel());
  // Chords whose fall is whole take their falls, with any kernel (tests
  // turn it off to reach the other ways).
  bool fallSums = true;
  ChordCache cache;
  // Scratch for one block of samples.
  OwnedArray<double> blockTimes;
  OwnedArray<double> blockRows;  // pitchCount rows of blockSamples
  OwnedArray<double> sums;       // of a block's samples, for chords of many notes
  bool outOfMemory = false;      // a chord failed for want of scratch space
};

// Prepares a renderer for the chords of one score.
void startRenderer(Renderer& renderer, const RenderSettings& settings);

// Appends the samples of a chord that is not the last one rendered again:
// renderChord's way for every chord it does not copy at once.
bool renderChordAnew(Renderer& renderer, OutputBuffer& output, const Chord& chord);

// Appends the chord's samples to output; false if a write failed, or if
// there was no memory for the chord's scratch space (then outOfMemory).
// Tables and cache are only taken where memory allows. Inline for a chord
// played again at once, which is only copied: a score of one short chord
// repeated millions of times spends little else.
inline bool renderChord(Renderer& renderer, OutputBuffer& output, const Chord& chord) {
  if (chord.noteCount > 0 && renderer.chordSamples > 0) {
    if (const unsigned char* kept = findLastChord(renderer.cache, chord)) {
      return writeOutput(output, kept, static_cast<std::size_t>(renderer.chordSamples));
    }
  }
  return renderChordAnew(renderer, output, chord);
}
