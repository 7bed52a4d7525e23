#include "score/chord_parser.h"

#include "score/score_format.h"

namespace {

// If a note starts at text[i], returns its length (2 or 3) and sets index;
// otherwise returns 0.
std::size_t matchNote(const char* text, std::size_t length, std::size_t i, std::int16_t& index) {
  if (i + 1 >= length) return 0;
  unsigned char octave = static_cast<unsigned char>(text[i]);
  unsigned char letter = static_cast<unsigned char>(text[i + 1]);
  if (octave < '0' || octave >= '0' + scoreFormat::octaveCount) return 0;
  if (!scoreFormat::isNoteLetter(letter)) return 0;
  int pitch = noteIndex(static_cast<std::int16_t>(octave - '0'), letter);
  std::size_t used = 2;
  if (i + 2 < length && text[i + 2] == 'b') {
    --pitch;
    ++used;
  } else if (i + 2 < length && text[i + 2] == '#') {
    ++pitch;
    ++used;
  }
  if (pitch < 0 || pitch >= scoreFormat::pitchCount) return 0;
  index = static_cast<std::int16_t>(pitch);
  return used;
}

}  // namespace

std::int16_t noteIndex(std::int16_t octave, unsigned char letter) {
  return static_cast<std::int16_t>(octave * 12 + scoreFormat::semitoneOffset(letter));
}

void parseChord(const char* text, std::size_t length, Chord& chord,
                std::vector<SkippedRun>& skipped) {
  chord.noteCount = 0;
  skipped.clear();
  std::size_t i = 0;
  while (i < length) {
    std::int16_t index = 0;
    std::size_t used = matchNote(text, length, i, index);
    if (used > 0 && static_cast<std::size_t>(chord.noteCount) < chord.notes.size()) {
      chord.notes[static_cast<std::size_t>(chord.noteCount++)] = index;
      i += used;
      continue;
    }
    if (!skipped.empty() && skipped.back().start + skipped.back().length == i) {
      ++skipped.back().length;
    } else {
      skipped.push_back(SkippedRun{i, 1});
    }
    ++i;
  }
}
