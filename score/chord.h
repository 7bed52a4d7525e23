// One chord of a score, as the parser hands it to the renderer.
#pragma once

#include <cstdint>
#include <vector>

struct Chord {
  // Pitch indexes 0..47 of the notes kept, in score order; the array is sized
  // for the largest chord of the score, and only the first noteCount are valid.
  std::vector<std::int16_t> notes;
  std::int64_t noteCount = 0;  // notes kept from the chord text
};
