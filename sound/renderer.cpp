#include "sound/renderer.h"

#include <algorithm>
#include <cmath>

#include "sound/period_table.h"

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
// one (step = 1/8000 is an odd multiple of 2^-63, the units here >= 2^-53).
// Returns the count and leaves t at the first value at or beyond limit or
// beyond the binade.
std::int64_t countWithinBinade(double& t, double limit, double step) {
  int exponent = 0;
  std::frexp(t, &exponent);
  double top = std::ldexp(1.0, exponent);
  double unit = std::ldexp(1.0, exponent - 53);
  double end = std::min(limit, top);  // a multiple of unit
  auto units = [unit](double value) { return static_cast<std::int64_t>(value / unit); };
  std::int64_t first = units(t);
  std::int64_t stride = units((t + step) - t);
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
  while (noteDuration > t) count += countWithinBinade(t, noteDuration, sampleStep);
  return count;
}

unsigned char chordSample(const std::int16_t* notes, std::int64_t noteCount, double gain,
                          double t) {
  double u = 0.0;
  for (std::int64_t i = 0; i < noteCount; ++i) {
    double period = periodTable[notes[i]];
    double r = std::fmod(t, period);
    u = ((r * 2.0) / period - 1.0) * gain + u;
  }
  return static_cast<unsigned char>(static_cast<std::int32_t>(u + 128.0));
}

bool renderChord(OutputBuffer& output, const Chord& chord, const RenderSettings& settings) {
  const std::int16_t* notes = chord.notes.data();
  std::int64_t n = chord.noteCount;
  double gain = n > 0 ? amplitudeFactor(n, settings.maxChordNotes) : 0.0;
  double t = 0.0;
  while (settings.noteDuration > t) {
    std::size_t room = 0;
    unsigned char* space = outputSpace(output, room);
    if (room == 0) return false;
    std::size_t made = 0;
    while (made < room && settings.noteDuration > t) {
      space[made++] = chordSample(notes, n, gain, t);
      t = t + settings.sampleStep;
    }
    commitOutput(output, made);
  }
  return !output.failed;
}
