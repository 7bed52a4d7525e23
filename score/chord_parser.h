// Turns the text of one chord into pitch indexes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "score/chord.h"

// A run of chord text that holds no note, skipped by the parser.
struct SkippedRun {
  std::size_t start = 0;   // index of its first character in the chord text
  std::size_t length = 0;  // characters
};

// Returns octave * 12 + the semitone offset of a degree letter.
std::int16_t noteIndex(std::int16_t octave, unsigned char letter);

// Fills chord.noteCount and the first entries of chord.notes from the text
// text[0..length). A note is an octave character 0..3, a degree letter and an
// optional "b" or "#" whose pitch index lies in 0..47; anything else is skipped
// one character at a time, and skipped is filled with the runs of skipped
// characters. Never stores more notes than chord.notes holds (a note needs a note
// letter, and chord.notes is sized for the most letters of any chord).
void parseChord(const char* text, std::size_t length, Chord& chord,
                std::vector<SkippedRun>& skipped);
