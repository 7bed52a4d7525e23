// Score sources and output sinks in memory, with faults on demand.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/ports.h"
#include "score/chord.h"

struct MemorySource {
  std::string bytes;
  std::size_t offset = 0;
  std::size_t chunk = 1 << 20;       // most bytes one read returns
  std::int64_t failAfterReads = -1;  // reads that succeed before one fails (with EIO)
  bool seekable = true;
  bool failAfterSeek = false;  // every read of the second pass fails
  std::string editedBytes;     // if not empty, the bytes from the first seek on
  bool seeked = false;
};

ByteSource memorySource(MemorySource& memory);

struct MemorySink {
  std::vector<unsigned char> bytes;
  std::int64_t failAfterWrites = -1;  // writes that succeed before one fails (ENOSPC)
};

ByteSink memorySink(MemorySink& memory);

// A chord whose notes are the given pitch indexes (the vector holds them).
Chord chordOf(std::vector<std::int16_t>& notes);
