// Renders chords into 8-bit samples: each note a rising sawtooth, the notes
// of a chord added and scaled, offset to the unsigned midpoint 128.
#pragma once

#include <cstdint>

#include "score/chord.h"
#include "sound/output_buffer.h"

// What every chord of one score shares.
struct RenderSettings {
  double noteDuration = 0.0;        // seconds of every chord
  std::int64_t maxChordNotes = 0;   // most note letters in a chord of the score
  double sampleStep = 1.0 / 8000;   // seconds between samples: 1 / byte rate
};

// Returns the amplitude factor of a chord of noteCount notes in a score whose
// largest chord has maxChordNotes letters: 60 for one note, 120 in all for a
// chord of maxChordNotes notes. Only meaningful for noteCount >= 1.
double amplitudeFactor(std::int64_t noteCount, std::int64_t maxChordNotes);

// Returns how many samples one chord of the given duration yields: the number
// of values the chord time takes below the duration, starting at 0 and adding
// sampleStep in double precision each time. Fast for any duration.
std::int64_t samplesPerChord(double noteDuration, double sampleStep);

// Returns the sample of a chord at chord time t, by the defining formula.
unsigned char chordSample(const std::int16_t* notes, std::int64_t noteCount, double gain,
                          double t);

// Appends the chord's samples to output; false if a write failed.
bool renderChord(OutputBuffer& output, const Chord& chord, const RenderSettings& settings);
