// The conversion run's core: one score in, one WAV file out, and what the
// console shows meanwhile. The console program streams a file through it; the
// page, the tests, the fuzzer and the benchmark convert bytes in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "driver/messages.h"
#include "score/scanner.h"
#include "score/score_reader.h"
#include "sound/output_buffer.h"
#include "sound/wave_format.h"

// Sets format.dataSize to the declared data length of the score's samples,
// given the samples the renderer writes for each chord: the product of the
// duration, the byte rate and the chord count, truncated, but never more
// than the samples written and never below 0. Fails with tooLong when the
// duration is not finite or the file would pass a WAV file's 32-bit sizes.
Outcome declareDataSize(const ScoreStats& stats, std::int64_t chordSamples, WaveFormat& format);

// Bytes the output collects before each write to the file.
constexpr std::size_t outputBlockSize = 256 * 1024;

// Converts the score read from source into a WAV file written to sink in
// blocks of blockSize bytes: pre-scan, header, then each chord echoed on
// console.out (warnings on console.err) and rendered. Memory stays bounded
// whatever the score's text: only the notes of one chord are kept. Any
// failure stops the run; the caller discards what the sink received.
Outcome convertStreams(ByteSource source, ByteSink sink, const std::string& scoreName,
                       const Console& console, std::size_t blockSize = outputBlockSize);

// The WAV bytes of a conversion in memory, taken without throwing.
struct MemoryWav {
  unsigned char* bytes = nullptr;  // malloc'd
  std::size_t size = 0;            // bytes written
  std::size_t capacity = 0;        // bytes allocated
  std::size_t limit = SIZE_MAX;    // bytes it may take; a larger WAV fails as outOfMemory
  MemoryWav() = default;
  MemoryWav(const MemoryWav&) = delete;
  MemoryWav& operator=(const MemoryWav&) = delete;
  ~MemoryWav();
};

// A conversion of score bytes held in memory: what the console program
// would write and print for the same bytes, but for the closing wait.
struct MemoryConversion {
  MemoryWav wav;    // empty unless the conversion succeeded
  std::string out;  // standard output: the echo and any failure message
  std::string err;  // standard error: warnings and the failure's reason
  Outcome outcome;
};

// Converts size bytes of a score named scoreName (for messages) into result,
// whose WAV may take at most wavLimit bytes.
void convertMemory(const unsigned char* bytes, std::size_t size, const std::string& scoreName,
                   MemoryConversion& result, std::size_t wavLimit = SIZE_MAX);
