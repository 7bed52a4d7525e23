// The program's ports: where a score's bytes come from, where the WAV's
// bytes and the console's text go. A file, memory or a standard stream
// stands behind each, and every one answers in the same terms.
#pragma once

#include <cstddef>
#include <cstdint>

// What a port answers: portOk, a positive system error code (errno, or a
// Windows error code), or portOutOfMemory.
using PortResult = int;
constexpr PortResult portOk = 0;
constexpr PortResult portOutOfMemory = -1;  // memory ran out, not the system

// Where a score's bytes come from.
struct ByteSource {
  void* context = nullptr;
  // Reads up to capacity bytes into buffer; count receives how many were
  // read, 0 at the end of the score.
  PortResult (*read)(void* context, unsigned char* buffer, std::size_t capacity,
                     std::size_t& count) = nullptr;
  // Moves to an absolute byte offset.
  PortResult (*seek)(void* context, std::int64_t offset) = nullptr;
};

// Where the WAV's bytes go.
struct ByteSink {
  void* context = nullptr;
  // Writes all count bytes.
  PortResult (*write)(void* context, const unsigned char* bytes, std::size_t count) = nullptr;
  // Told the output's whole size before the first byte, so that memory or
  // disk space can be taken at once. May be null.
  PortResult (*reserve)(void* context, std::int64_t totalBytes) = nullptr;
  // A sink in memory may lend its own space, so that bytes are made where
  // they stay, not copied there: returns room (> 0) bytes of it after what it
  // holds, or null to be written to instead. May be null.
  unsigned char* (*lend)(void* context, std::size_t& room) = nullptr;
  // Takes count bytes made in the space it lent, as write would take them.
  PortResult (*take)(void* context, std::size_t count) = nullptr;
};

// Where console text goes. A console that fails (a closed pipe) must not
// stop a conversion: callers note the result at most.
struct TextSink {
  void* context = nullptr;
  PortResult (*write)(void* context, const char* bytes, std::size_t count) = nullptr;
};
