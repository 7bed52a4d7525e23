// The renderer alone, without files: samples per second for the chords of a
// one-hour score, tabled (0.5 s chords) and block by block (30 s chords).
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "sound/period_table.h"
#include "sound/renderer.h"

namespace {

bool discard(void*, const unsigned char*, std::size_t) { return true; }

// Renders chordCount distinct triads of the given duration per iteration.
void renderTriads(benchmark::State& state, double duration, int chordCount) {
  buildPeriodTable();
  OutputBuffer output;
  ByteSink sink;
  sink.write = discard;
  startOutput(output, sink, 256 * 1024);
  RenderSettings settings;
  settings.noteDuration = duration;
  settings.maxChordNotes = 3;
  std::vector<Chord> chords(static_cast<std::size_t>(chordCount));
  for (int c = 0; c < chordCount; ++c) {
    chords[static_cast<std::size_t>(c)].notes = {static_cast<std::int16_t>(c % 48),
                                                 static_cast<std::int16_t>((c / 48) % 48),
                                                 static_cast<std::int16_t>((c * 7) % 48)};
    chords[static_cast<std::size_t>(c)].noteCount = 3;
  }
  auto renderer = std::make_unique<Renderer>();
  for (auto _ : state) {
    startRenderer(*renderer, settings);
    for (const Chord& chord : chords) renderChord(*renderer, output, chord);
    flushOutput(output);
  }
  state.SetBytesProcessed(state.iterations() * chordCount * renderer->chordSamples);
}

void halfSecondTriads(benchmark::State& state) { renderTriads(state, 0.5, 720); }
void thirtySecondTriads(benchmark::State& state) { renderTriads(state, 30.0, 12); }

}  // namespace

BENCHMARK(halfSecondTriads)->Unit(benchmark::kMillisecond);
BENCHMARK(thirtySecondTriads)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
