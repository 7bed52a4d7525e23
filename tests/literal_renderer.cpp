#include "literal_renderer.h"

#include <cmath>

#include "sound/period_table.h"

std::vector<unsigned char> renderLiterally(const Chord& chord, std::int64_t maxChordNotes,
                                           double noteDuration) {
  std::int64_t n = chord.noteCount;
  double g = 60.0;  // one note with no chord of two notes in the score
  if (!(n == 1 && maxChordNotes <= 1) && n > 0) {
    g = ((60.0 / static_cast<double>(n)) / static_cast<double>(maxChordNotes - 1)) *
        (static_cast<double>(maxChordNotes + n) - 2.0);
  }
  std::vector<unsigned char> samples;
  for (double t = 0.0; noteDuration > t; t = t + 1.0 / 8000) {
    double u = 0.0;
    for (std::int64_t i = 0; i < n; ++i) {
      double p = periodTable[chord.notes[i]];
      u = ((std::fmod(t, p) * 2.0) / p - 1.0) * g + u;
    }
    samples.push_back(static_cast<unsigned char>(static_cast<std::int32_t>(u + 128.0)));
  }
  return samples;
}
