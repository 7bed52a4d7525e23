// The whole conversion in memory, without files: one-hour scores of 0.5 s
// triads (a song whose 24 chords repeat, and one whose chords all differ),
// and an hour of 30 s chords, rendered block by block; and chords crafted
// to share one slot of the chord cache against as many random ones.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>

#include "driver/conversion.h"
#include "driver/memory_conversion.h"

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

// The cache slot a fixed fingerprint (FNV-1a, as the cache once used) gave
// five notes: what a score could be crafted against before the key.
// (Notes are given as octave * 7 + degree, as the score writes them.)
std::size_t fixedSlot(const int* notes) {
  static const int semitones[] = {0, 2, 4, 5, 7, 9, 11};
  std::uint64_t hash = 0xcbf29ce484222325ull ^ 5u;
  for (int i = 0; i < 5; ++i) {
    auto pitch = static_cast<std::uint16_t>(notes[i] / 7 * 12 + semitones[notes[i] % 7]);
    hash = (hash ^ pitch) * 0x100000001b3ull;
  }
  return static_cast<std::size_t>((hash ^ (hash >> 29)) | 1u) & 4095u;
}

// Returns 2,000 distinct five-note chords, all in one fixed slot when
// crafted, else at random, played over and over: about 11 MB of text.
std::string fiveNoteScore(bool crafted) {
  std::mt19937 random(2026);
  std::string chords;
  for (int found = 0; found < 2000;) {
    int pitches[5];
    for (int& pitch : pitches) pitch = static_cast<int>(random() % 28);
    if (crafted && fixedSlot(pitches) != 1) continue;
    for (int pitch : pitches) {
      chords += static_cast<char>('0' + pitch / 7);
      chords += degrees[pitch % 7];
    }
    chords += "|";
    ++found;
  }
  std::string score = "0.001\n";
  while (score.size() < 11000000) score += chords;
  return score;
}

void craftedCollisions(benchmark::State& state) { convertScore(state, fiveNoteScore(true)); }
void randomFiveNotes(benchmark::State& state) { convertScore(state, fiveNoteScore(false)); }

}  // namespace

BENCHMARK(craftedCollisions)->Unit(benchmark::kMillisecond);
BENCHMARK(randomFiveNotes)->Unit(benchmark::kMillisecond);
BENCHMARK(repeatingSong)->Unit(benchmark::kMillisecond);
BENCHMARK(allDifferent)->Unit(benchmark::kMillisecond);
BENCHMARK(thirtySecondChords)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
