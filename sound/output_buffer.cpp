#include "sound/output_buffer.h"

#include <algorithm>
#include <cstring>

void startOutput(OutputBuffer& output, ByteSink sink, std::size_t blockSize) {
  output.sink = sink;
  output.bytes.assign(blockSize, 0);
  output.used = 0;
  output.failed = false;
}

unsigned char* outputSpace(OutputBuffer& output, std::size_t& room) {
  if (output.used == output.bytes.size()) flushOutput(output);
  room = output.failed ? 0 : output.bytes.size() - output.used;
  return output.bytes.data() + output.used;
}

bool writeOutput(OutputBuffer& output, const unsigned char* bytes, std::size_t count) {
  while (count > 0) {
    std::size_t room = 0;
    unsigned char* space = outputSpace(output, room);
    if (room == 0) return false;
    std::size_t part = std::min(room, count);
    std::memcpy(space, bytes, part);
    commitOutput(output, part);
    bytes += part;
    count -= part;
  }
  return !output.failed;
}

bool flushOutput(OutputBuffer& output) {
  if (!output.failed && output.used > 0 &&
      !output.sink.write(output.sink.context, output.bytes.data(), output.used)) {
    output.failed = true;
  }
  output.used = 0;
  return !output.failed;
}

bool finishOutput(OutputBuffer& output) {
  if (!flushOutput(output)) return false;
  if (output.sink.finish != nullptr && !output.sink.finish(output.sink.context)) {
    output.failed = true;
  }
  return !output.failed;
}
