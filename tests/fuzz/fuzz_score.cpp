// libFuzzer target: arbitrary bytes as a score, through the whole conversion
// in memory (reading, both passes, parsing, echo, rendering, header).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "driver/conversion.h"
#include "sound/period_table.h"

namespace {

struct Input {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t offset;
};

std::int64_t readInput(void* context, unsigned char* buffer, std::size_t capacity) {
  auto& input = *static_cast<Input*>(context);
  std::size_t count = capacity < input.size - input.offset ? capacity : input.size - input.offset;
  if (count > 0) std::memcpy(buffer, input.data + input.offset, count);
  input.offset += count;
  return static_cast<std::int64_t>(count);
}

bool seekInput(void* context, std::int64_t offset) {
  auto& input = *static_cast<Input*>(context);
  if (offset < 0 || static_cast<std::size_t>(offset) > input.size) return false;
  input.offset = static_cast<std::size_t>(offset);
  return true;
}

// Keeps long scores quick: the output stops with a write error after 8 KiB.
bool countOutput(void* context, const unsigned char*, std::size_t count) {
  auto& written = *static_cast<std::size_t*>(context);
  written += count;
  return written <= (8u << 10);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::FILE* discard = std::fopen("/dev/null", "w");
  static bool ready = (buildPeriodTable(), true);
  (void)ready;
  Input input{data, size, 0};
  ByteSource source;
  source.context = &input;
  source.read = readInput;
  source.seek = seekInput;
  std::size_t written = 0;
  ByteSink sink;
  sink.context = &written;
  sink.write = countOutput;
  convertStreams(source, sink, "fuzz.txt", Console{discard, discard}, 4096);
  return 0;
}
