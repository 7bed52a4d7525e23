#include "sound/output_buffer.h"

#include <algorithm>
#include <cstring>

namespace {

// Records the first failure of the sink.
void fail(OutputBuffer& output, PortResult error) {
  output.failed = true;
  output.error = error;
}

// Takes the next block to fill: space the sink lends (a block's size at
// most, so that blocks end where they would), or the buffer's own.
void nextBlock(OutputBuffer& output) {
  std::size_t room = 0;
  unsigned char* lent =
      output.sink.lend != nullptr ? output.sink.lend(output.sink.context, room) : nullptr;
  output.lent = lent != nullptr && room > 0;
  output.block = output.lent ? lent : output.bytes.get();
  output.capacity = output.lent ? std::min(room, output.blockSize) : output.blockSize;
}

}  // namespace

bool startOutput(OutputBuffer& output, ByteSink sink, std::size_t blockSize) {
  output.sink = sink;
  output.bytes = allocateArray<unsigned char>(blockSize);
  output.blockSize = output.bytes ? blockSize : 0;
  output.used = 0;
  output.failed = false;
  output.error = portOk;
  output.block = nullptr;
  output.capacity = 0;
  output.lent = false;
  return output.bytes != nullptr;
}

unsigned char* outputSpace(OutputBuffer& output, std::size_t& room) {
  if (output.used == output.capacity) {
    flushOutput(output);
    if (!output.failed) nextBlock(output);
  }
  room = output.failed ? 0 : output.capacity - output.used;
  return output.block + output.used;
}

bool writeOutputBlocks(OutputBuffer& output, const unsigned char* bytes, std::size_t count) {
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
    PortResult error = output.lent
                           ? output.sink.take(output.sink.context, output.used)
                           : output.sink.write(output.sink.context, output.block, output.used);
    if (error != portOk) fail(output, error);
  }
  output.used = 0;
  output.capacity = 0;  // the next byte takes a block afresh: lent space is the sink's now
  return !output.failed;
}
