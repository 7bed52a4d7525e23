// The one buffer between the renderer and the output file: samples are
// rendered straight into it and leave in large blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/allocation.h"
#include "base/copy_bytes.h"
#include "base/ports.h"

struct OutputBuffer {
  ByteSink sink;
  OwnedArray<unsigned char> bytes;  // one block of its own
  std::size_t blockSize = 0;        // bytes in a block
  unsigned char* block = nullptr;   // the block filled now: its own, or space the sink lent
  bool lent = false;                // block is the sink's space
  std::size_t capacity = 0;         // bytes in the block filled now
  std::size_t used = 0;             // bytes waiting in the block
  bool failed = false;              // a write failed; nothing more is written
  PortResult error = portOk;        // the sink's answer to that write
};

// Prepares an empty buffer of blockSize bytes in front of sink; false if
// there is no memory for it.
bool startOutput(OutputBuffer& output, ByteSink sink, std::size_t blockSize);

// Returns free space at the end of the block, writing the block out first
// when it is full; room receives its size (0 after a failed write).
unsigned char* outputSpace(OutputBuffer& output, std::size_t& room);

// Marks count bytes of the space outputSpace returned as filled.
inline void commitSpace(OutputBuffer& output, std::size_t count) { output.used += count; }

// Appends count bytes across blocks; false if the output has failed.
bool writeOutputBlocks(OutputBuffer& output, const unsigned char* bytes, std::size_t count);

// Appends count bytes; false if the output has failed. Inline for what fits
// the block: a score of short chords appends a few bytes millions of times.
// (Room in the block means no write has failed: a failure leaves none.)
inline bool writeOutput(OutputBuffer& output, const unsigned char* bytes, std::size_t count) {
  if (count == 0 || count > output.capacity - output.used) {
    return writeOutputBlocks(output, bytes, count);
  }
  copyBytes(output.block + output.used, bytes, count);
  output.used += count;
  return true;
}

// Writes out what the block holds; false if this or any earlier write failed.
bool flushOutput(OutputBuffer& output);
