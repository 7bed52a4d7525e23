// The whole conversion in memory, without files: one-hour scores of 0.5 s
// triads (a song whose 24 chords repeat, and one whose chords all differ),
// and an hour of 30 s chords, rendered block by block.
#include <benchmark/benchmark.h>

#include <string>

#include "driver/conversion.h"

namespace {

const char degrees[] = "drmfslt";

// Returns a score of chordCount triads of the given length in seconds;
// the triads repeat after `distinct` chords.
std::string triadScore(const char* duration, int chordCount, int distinct) {
  std::string score = std::string(duration) + "\n";
  for (int c = 0; c < chordCount; ++c) {
    int k = c % distinct;  // its three digits in base 28 pick the notes: all distinct
    for (int note = 0, rest = k; note < 3; ++note, rest /= 28) {
      int pitch = rest % 28;
      score += static_cast<char>('0' + pitch / 7);
      score += degrees[pitch % 7];
    }
    score += " |\n";
  }
  return score;
}

void convertScore(benchmark::State& state, const std::string& score) {
  std::size_t wavBytes = 0;
  for (auto _ : state) {
    MemoryConversion result;
    convertMemory(reinterpret_cast<const unsigned char*>(score.data()), score.size(), "bench.txt",
                  result);
    wavBytes = result.wav.size;
    benchmark::DoNotOptimize(result.wav.bytes);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * wavBytes));
}

void repeatingSong(benchmark::State& state) { convertScore(state, triadScore("0.5", 7200, 24)); }
void allDifferent(benchmark::State& state) { convertScore(state, triadScore("0.5", 7200, 7200)); }
void thirtySecondChords(benchmark::State& state) {
  convertScore(state, triadScore("30", 120, 120));
}

}  // namespace

BENCHMARK(repeatingSong)->Unit(benchmark::kMillisecond);
BENCHMARK(allDifferent)->Unit(benchmark::kMillisecond);
BENCHMARK(thirtySecondChords)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
