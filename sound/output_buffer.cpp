#include "sound/output_buffer.h"

#include <algorithm>
#include <cstring>

namespace {

// Records the first failure of the sink.
void fail(OutputBuffer& output, PortResult error) {
  output.failed = true;
  output.error = error;
}

}  // namespace

bool startOutput(OutputBuffer& output, ByteSink sink, std::size_t blockSize) {
  output.sink = sink;
  output.bytes = allocateArray<unsigned char>(blockSize);
  output.capacity = output.bytes ? blockSize : 0;
  output.used = 0;
  output.failed = false;
  output.error = portOk;
  return output.bytes != nullptr;
}

unsigned char* outputSpace(OutputBuffer& output, std::size_t& room) {
  if (output.used == output.capacity) flushOutput(output);
  room = output.failed ? 0 : output.capacity - output.used;
  return output.bytes.get() + output.used;
}

bool writeOutput(OutputBuffer& output, const unsigned char* bytes, std::size_t count) {
  while (count > 0) {
    std::size_t room = 0;
    unsigned char* space = outputSpace(output, room);
    if (room == 0) return false;
    std::size_t part = std::min(room, count);
    std::memcpy(space, bytes, part);
    commitSpace(output, part);
    bytes += part;
    count -= part;
  }
  return !output.failed;
}

bool flushOutput(OutputBuffer& output) {
  if (!output.failed && output.used > 0) {
    PortResult error = output.sink.write(output.sink.context, output.bytes.get(), output.used);
    if (error != portOk) fail(output, error);
  }
  output.used = 0;
  return !output.failed;
}
