// Places in a score file, and the runs of chord text that hold no note.
#pragma once

#include <cstdint>

// A place in the score file: 1-based line and byte column (a folded CR LF is
// one character, at the end of its line).
struct TextPosition {
  std::int64_t line = 1;
  std::int64_t column = 1;
};

// A run of chord text that holds no note, and where it stands in the file.
struct SkippedRun {
  std::int64_t start = 0;  // file offset of its first character
  std::int64_t end = 0;    // file offset just after its last character
  TextPosition position;   // line and column of its first character
};
