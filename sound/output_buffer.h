// The one buffer between the renderer and the output file: samples are
// rendered straight into it and leave in large blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// Where the output's bytes go: a file, or memory.
struct ByteSink {
  void* context = nullptr;
  // Writes all count bytes; returns 0, or the system's error code (-1 when
  // there is none) if any could not be written.
  int (*write)(void* context, const unsigned char* bytes, std::size_t count) = nullptr;
  // Completes the output once everything is written (a file is closed);
  // returns 0 or an error code as write does. May be null.
  int (*finish)(void* context) = nullptr;
  // Told the output's whole size before the first byte, so that memory can
  // be taken at once; returns 0 or an error code as write does. May be null.
  int (*reserve)(void* context, std::int64_t totalBytes) = nullptr;
};

// A sink's code for a failure for want of memory, apart from the system's codes.
constexpr int outOfMemoryError = -2;

struct OutputBuffer {
  ByteSink sink;
  std::unique_ptr<unsigned char[]> bytes;  // one block
  std::size_t capacity = 0;                // bytes in a block
  std::size_t used = 0;                    // bytes waiting in the block
  bool failed = false;                     // a write failed; nothing more is written
  int error = 0;                           // the sink's code for that failure
};

// Prepares an empty buffer of blockSize bytes in front of sink; false if
// there is no memory for it.
bool startOutput(OutputBuffer& output, ByteSink sink, std::size_t blockSize);

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
