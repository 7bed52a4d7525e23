// A conversion of score bytes held in memory with the console's text
// beside its records: what the page and the tests compare with the console
// program. It sits above the conversion core, which knows no console.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "driver/conversion.h"

// A conversion of score bytes held in memory, with the console's text: what
// the console program would write and print for the same bytes, but for
// the closing wait.
struct MemoryConversion {
  MemoryWav wav;    // empty unless the conversion succeeded
  std::string out;  // standard output: the echo and any failure message
  std::string err;  // standard error: warnings and the failure's reason
  Outcome outcome;
};

// Converts size bytes of a score named scoreName (for messages) into result,
// whose WAV may take at most wavLimit bytes; also reports to more, if given.
void convertMemory(const unsigned char* bytes, std::size_t size, const std::string& scoreName,
                   MemoryConversion& result, std::size_t wavLimit = SIZE_MAX,
                   const ConversionEvents* more = nullptr, std::size_t blockSize = outputBlockSize);
