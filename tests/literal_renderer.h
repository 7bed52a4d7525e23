// The renderer's defining formula, one sample at a time with fmod: the
// reference the fast renderer must match byte for byte.
#pragma once

#include <cstdint>
#include <vector>

#include "score/chord.h"

// Returns the samples of one chord, computed literally.
std::vector<unsigned char> renderLiterally(const Chord& chord, std::int64_t maxChordNotes,
                                           double noteDuration);
