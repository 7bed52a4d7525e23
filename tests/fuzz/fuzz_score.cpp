// libFuzzer target: arbitrary bytes as a score, through the whole conversion
// in memory (reading, both passes, parsing, echo, warnings, rendering,
// header), as the page converts it.
#include <cstddef>
#include <cstdint>

#include "driver/conversion.h"

// Keeps long scores quick: a WAV of more than 4 MiB fails as too large for memory.
constexpr std::size_t wavLimit = 4u << 20;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  MemoryConversion result;
  convertMemory(data, size, "fuzz.txt", result, wavLimit);
  return 0;
}
