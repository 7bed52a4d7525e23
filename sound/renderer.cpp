#include "sound/renderer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "sound/chord_cache.h"
#include "sound/render_parts.h"
#include "sound/wave_format.h"

// Which chord takes which way (choosePath and renderChordAnew say it in
// code), in the order they are tried:
//   repeat       the chord just rendered, again: its samples copied from the
//                cache at once (renderChord, inline in renderer.h)
//   silence      a rest, or chords of no samples: nothing to sum
//   cache        a chord met before, whose samples the cache kept
//   wraps        up to 127 notes (from as many as the kernel beats the
//                fixed rows at: wrapSumsFrom), with the score's tables,
//                while the periods their notes begin stay below 2^16: a
//                line less 2 g times those periods, counted from a bit a
//                sample by a kernel per instruction set (sum_wraps.cpp,
//                wrap_kernel.h); and with every kernel, for up to 16
//                notes whose 2 g is a whole number, in bytes: the line's
//                whole part less their falls
//   fixed rows   else up to four notes, with the tables: 32-bit sums, a
//                row a note
//   fixed sets   else more notes, while rows of their note count fit:
//                32-bit sums, a term per distinct pitch
//   counted      64 notes or more: a term per distinct pitch, in 64 bits
//   tiles        every other chord: double sums, note by note
// Every way gives the defining formula's bytes; the tests compare each with
// the literal renderer.

using namespace render;

namespace {

constexpr std::int64_t endlessChord = std::numeric_limits<std::int64_t>::max();

// Prepares the pass's way of summing a chord that is neither a rest nor in
// the cache: wraps where they fit; else fixed rows for one of few notes
// while its pitches' rows fit the tables' budget (integer sums need no
// order), fixed sets for more, counted pitches for many (a term a pitch,
// not an addition a note); else tiles.
void choosePath(Renderer& renderer, ChordPass& pass) {
  const Chord& chord = *pass.chord;
  bool many = chord.noteCount > fewNotes;
  pass.counted = chord.noteCount >= manyNotes;
  pass.pitches = countPitches(chord, pass.counts);
  pass.gain = amplitudeFactor(chord.noteCount, renderer.settings.maxChordNotes);
  pass.fromTables = ensureRows(renderer, pass.pitches);
  pass.wraps = pass.fromTables && prepareWraps(renderer, pass);
  pass.fixed = pass.fromTables && !many && !pass.wraps &&
               ensureFixedRows(renderer, pass.pitches, chord.noteCount, pass.gain);
  if (pass.fromTables && many && !pass.wraps && chord.noteCount <= fixedSetNotes) {
    pass.fixedSet = ensureFixedSet(renderer, pass.pitches, chord.noteCount, pass.gain);
  }
}

// Renders the pass's next count samples into out (the scratch is ready).
void renderNext(Renderer& renderer, ChordPass& pass, std::size_t count, unsigned char* out) {
  if (pass.wraps) {
    renderWraps(renderer, pass, count, out);
    return;
  }
  if (pass.fixed) {
    renderFixed(renderer, pass, count, out);
    return;
  }
  if (pass.fixedSet != nullptr) {
    renderFixedSet(renderer, pass, count, out);
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
  choosePath(renderer, pass);
  unsigned char* samples = keepChord(renderer.cache, lookup, chord, bytes);
  if (samples == nullptr) return streamChord(renderer, pass, output);
  if (!ensureScratch(renderer, pass.fromTables)) return false;
  renderNext(renderer, pass, bytes, samples);
  return writeOutput(output, samples, bytes);
}
