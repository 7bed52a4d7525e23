// One chord of a score, as the parser hands it to the renderer.
#pragma once

#include <cstdint>

struct Chord {
  // Pitch indexes 0..47 of the notes kept, in score order. The array, owned
  // by the conversion run, has room for the most notes any chord of the score
  // keeps; only the first noteCount are valid.
  std::int16_t* notes = nullptr;
  std::int64_t capacity = 0;   // entries of notes
  std::int64_t noteCount = 0;  // notes kept from the chord text
};
