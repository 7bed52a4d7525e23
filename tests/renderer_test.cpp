#include "sound/renderer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "memory_streams.h"
#include "sound/period_table.h"

namespace {

const double step = 1.0 / 8000;

// Renders one chord of the given notes into memory.
std::vector<unsigned char> render(std::vector<std::int16_t> notes, std::int64_t maxChordNotes,
                                  double duration) {
  buildPeriodTable();
  MemorySink sink;
  OutputBuffer output;
  startOutput(output, memorySink(sink), 1000);
  Chord chord;
  chord.noteCount = static_cast<std::int64_t>(notes.size());
  chord.notes = std::move(notes);
  RenderSettings settings;
  settings.noteDuration = duration;
  settings.maxChordNotes = maxChordNotes;
  EXPECT_TRUE(renderChord(output, chord, settings));
  EXPECT_TRUE(flushOutput(output));
  return sink.bytes;
}

// Counts the chord times below duration one addition at a time.
std::int64_t countByWalking(double duration) {
  std::int64_t count = 0;
  for (double t = 0.0; duration > t; t = t + step) ++count;
  return count;
}

using Bytes = std::vector<unsigned char>;

TEST(Renderer, TwoNoteAndOneNoteChordsOfOneMillisecond) {
  EXPECT_EQ(render({24, 28}, 2, 0.001), (Bytes{8, 22, 37, 52, 67, 82, 97, 112}));
  EXPECT_EQ(render({28}, 2, 0.001), (Bytes{68, 76, 84, 92, 101, 109, 117, 126}));
}

TEST(Renderer, EmptyChordIsSilenceAndNoDurationIsNoSamples) {
  EXPECT_EQ(render({}, 3, 0.001), Bytes(8, 128));
  EXPECT_TRUE(render({12}, 1, 0.0).empty());
  EXPECT_TRUE(render({12}, 1, -0.5).empty());
  EXPECT_TRUE(render({12}, 1, std::nan("")).empty());
}

TEST(Renderer, FirstSampleIsTheLowestAndChordsStayInRange) {
  EXPECT_EQ(render({12}, 2, 0.01)[0], 68);
  EXPECT_EQ(render({12, 16}, 2, 0.01)[0], 8);
  EXPECT_EQ(render({12, 16, 19}, 3, 0.01)[0], 8);
  for (unsigned char sample : render({0, 13, 26, 47}, 4, 0.2)) {
    EXPECT_GE(sample, 8);
    EXPECT_LE(sample, 247);
  }
}

TEST(Renderer, SingleNoteScoreHasTheOneNoteAmplitude) {
  // With no chord of two notes, one note still sounds at amplitude 60.
  EXPECT_EQ(amplitudeFactor(1, 1), 60.0);
  EXPECT_EQ(render({28}, 1, 0.001), (Bytes{68, 76, 84, 92, 101, 109, 117, 126}));
  EXPECT_EQ(amplitudeFactor(1, 4), 60.0);
  EXPECT_EQ(amplitudeFactor(3, 3), 40.0);
}

TEST(Renderer, SampleCountsOfTheWorkedDurations) {
  EXPECT_EQ(render({12}, 1, 0.5).size(), 4001u);
  EXPECT_EQ(render({12}, 1, 0.25).size(), 2001u);
  EXPECT_EQ(render({12}, 1, 0.1).size(), 800u);
  EXPECT_EQ(render({12}, 1, 1.0).size(), 8000u);
  EXPECT_EQ(render({12}, 1, 0.001).size(), 8u);
}

TEST(Renderer, SamplesPerChordMatchesTheWalk) {
  const double durations[] = {0.0, -1.0, 1e-300, step, 0.5, 0.999999, 1.0, 1.0001, 1.99995,
                              2.0, 3.7, 7.0, 30.0, 100.3, 600.0, 1024.0, 1500.123456, 4096.5};
  for (double duration : durations) {
    EXPECT_EQ(samplesPerChord(duration, step), countByWalking(duration)) << duration;
  }
  // Durations just around binade edges, where the added amount changes.
  for (double edge : {2.0, 4.0, 8.0, 16.0, 256.0}) {
    for (double duration : {std::nextafter(edge, 0.0), edge, std::nextafter(edge, 1e9)}) {
      EXPECT_EQ(samplesPerChord(duration, step), countByWalking(duration)) << duration;
    }
  }
}

TEST(Renderer, BlockSizeDoesNotChangeTheSamples) {
  buildPeriodTable();
  Chord chord;
  chord.notes = {5, 17, 40};
  chord.noteCount = 3;
  RenderSettings settings;
  settings.noteDuration = 0.3;
  settings.maxChordNotes = 5;
  std::vector<Bytes> results;
  for (std::size_t block : {std::size_t{1}, std::size_t{7}, std::size_t{4096}}) {
    MemorySink sink;
    OutputBuffer output;
    startOutput(output, memorySink(sink), block);
    ASSERT_TRUE(renderChord(output, chord, settings));
    ASSERT_TRUE(flushOutput(output));
    results.push_back(sink.bytes);
  }
  EXPECT_EQ(results[0], results[1]);
  EXPECT_EQ(results[0], results[2]);
  EXPECT_EQ(results[0].size(), 2401u);
}

TEST(Renderer, WriteFailureStopsTheChord) {
  buildPeriodTable();
  MemorySink sink;
  sink.failAfterWrites = 1;
  OutputBuffer output;
  startOutput(output, memorySink(sink), 100);
  Chord chord;
  chord.notes = {12};
  chord.noteCount = 1;
  RenderSettings settings;
  settings.noteDuration = 0.5;
  settings.maxChordNotes = 1;
  EXPECT_FALSE(renderChord(output, chord, settings));
  EXPECT_EQ(sink.bytes.size(), 100u);
}

}  // namespace
