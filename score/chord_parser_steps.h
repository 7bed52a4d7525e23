// The second pass's parts that its kernels' steps share (chord_parser.cpp
// and chord_parser_avx2.cpp): the echo block, and the wide steps the AVX2
// kernel takes. Not for use outside score/.
#pragma once

#include <cstddef>

#include "score/chord_parser.h"
#include "score/score_reader.h"

// A chord's echo on its way out, gathered in a small block of its own: a
// store through a char pointer into a shared buffer could touch anything,
// and would make the compiler reload the reader's state.
struct EchoBlock {
  static constexpr std::size_t capacity = 256;
  char bytes[capacity];
  std::size_t used = 0;
};

inline void passOn(EchoBlock& block, EchoSink echo) {
  if (block.used > 0 && echo.write != nullptr) echo.write(echo.context, block.bytes, block.used);
  block.used = 0;
}

// Takes wide windows from the cursor on while each is plain note text from
// its first byte whose notes fit, as takeStretch takes narrow ones.
void takePlainWide(ChordParser& parser, EchoBlock& block, EchoSink echo, ScoreCursor& cursor);

// Takes skipped text and blanks from the cursor on, a wide window at a
// time, up to the first octave that may begin a note, bar or CR; returns
// true if it took any.
bool takeSkippedWide(ChordParser& parser, EchoBlock& block, EchoSink echo, ScoreCursor& cursor);
