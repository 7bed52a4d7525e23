// libFuzzer target: arbitrary bytes as a score, through the whole conversion
// in memory (reading, both passes, parsing, echo, warnings, rendering real
// samples, header), as the page converts it. A chord length can ask for
// hours of sound; the target keeps every input quick by letting the WAV take
// at most 16 KiB (a larger one stops at the size check, before a sample is
// made), so that the fuzzer tries thousands of inputs a second, and writes
// the WAV in small blocks, so that each input passes many block edges.
#include <cstddef>
#include <cstdint>

#include "driver/conversion.h"
#include "driver/memory_conversion.h"

constexpr std::size_t wavLimit = 16u << 10;
constexpr std::size_t blockSize = 4u << 10;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  MemoryConversion result;
  convertMemory(data, size, "fuzz.txt", result, wavLimit, nullptr, blockSize);
  return 0;
}
