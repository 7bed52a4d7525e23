// The one buffer between the renderer and the output file: samples are
// rendered straight into it and leave in large blocks.
#pragma once

#include <cstddef>
#include <vector>

// Where the output's bytes go: a file, or memory in the tests.
struct ByteSink {
  void* context = nullptr;
  // Writes all count bytes; false if any could not be written.
  bool (*write)(void* context, const unsigned char* bytes, std::size_t count) = nullptr;
  // Completes the output once everything is written (a file is closed);
  // false if that fails. May be null.
  bool (*finish)(void* context) = nullptr;
};

struct OutputBuffer {
  ByteSink sink;
  std::vector<unsigned char> bytes;  // capacity of one block
  std::size_t used = 0;              // bytes waiting in the block
  bool failed = false;               // a write failed; nothing more is written
};

// Prepares an empty buffer of blockSize bytes in front of sink.
void startOutput(OutputBuffer& output, ByteSink sink, std::size_t blockSize);

// Returns free space at the end of the block, writing the block out first
// when it is full; room receives its size (0 after a failed write).
unsigned char* outputSpace(OutputBuffer& output, std::size_t& room);

// Marks count bytes of the space outputSpace returned as filled.
inline void commitOutput(OutputBuffer& output, std::size_t count) { output.used += count; }

// Appends count bytes; false if the output has failed.
bool writeOutput(OutputBuffer& output, const unsigned char* bytes, std::size_t count);

// Writes out what the block holds; false if this or any earlier write failed.
bool flushOutput(OutputBuffer& output);

// Flushes the block and completes the sink; false if anything written failed.
bool finishOutput(OutputBuffer& output);
