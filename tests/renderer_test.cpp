#include "sound/renderer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "literal_renderer.h"
#include "memory_streams.h"
#include "sound/period_table.h"

namespace {

const double step = 1.0 / 8000;

// Renders a sequence of chords through one renderer into memory.
std::vector<unsigned char> renderAll(const std::vector<std::vector<std::int16_t>>& chords,
                                     std::int64_t maxChordNotes, double duration,
                                     std::size_t blockSize = 1000, bool exactSamples = false,
                                     WrapKernel wrapKernel = chosenWrapKernel(),
                                     bool wrapSums = true) {
  MemorySink sink;
  OutputBuffer output;
  startOutput(output, memorySink(sink), blockSize);
  RenderSettings settings;
  settings.noteDuration = duration;
  settings.maxChordNotes = maxChordNotes;
  auto renderer = std::make_unique<Renderer>();
  startRenderer(*renderer, settings);
  renderer->exactSamples = exactSamples;
  renderer->wrapKernel = wrapKernel;
  renderer->wrapNotes = wrapSums ? 1 : std::numeric_limits<std::int64_t>::max();
  renderer->fallSums = wrapSums;
  for (std::vector<std::int16_t> notes : chords) {
    EXPECT_TRUE(renderChord(*renderer, output, chordOf(notes)));
  }
  EXPECT_TRUE(flushOutput(output));
  return sink.bytes;
}

std::vector<unsigned char> render(std::vector<std::int16_t> notes, std::int64_t maxChordNotes,
                                  double duration) {
  return renderAll({notes}, maxChordNotes, duration);
}

// The literal samples of a sequence of chords, one after another.
std::vector<unsigned char> renderAllLiterally(const std::vector<std::vector<std::int16_t>>& chords,
                                              std::int64_t maxChordNotes, double duration) {
  std::vector<unsigned char> all;
  for (std::vector<std::int16_t> notes : chords) {
    std::vector<unsigned char> samples = renderLiterally(chordOf(notes), maxChordNotes, duration);
    all.insert(all.end(), samples.begin(), samples.end());
  }
  return all;
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
  const double durations[] = {0.0,  -1.0,   1e-300,  step,   0.5,         0.999999,
                              1.0,  1.0001, 1.99995, 2.0,    3.7,         7.0,
                              30.0, 100.3,  600.0,   1024.0, 1500.123456, 4096.5};
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

TEST(Renderer, SamplesPerChordOfEndlessChords) {
  // Past 2^40 s an addition of 1/8000 leaves t as it is: the chord never ends.
  const std::int64_t endless = std::numeric_limits<std::int64_t>::max();
  EXPECT_EQ(samplesPerChord(3456789012345.0, step), endless);
  EXPECT_EQ(samplesPerChord(1e300, step), endless);
  EXPECT_LT(samplesPerChord(268435.0, step), endless);
}

TEST(Renderer, BlockSizeDoesNotChangeTheSamples) {
  std::vector<std::vector<std::int16_t>> chords = {{5, 17, 40}, {5, 17, 40}, {1}};
  Bytes one = renderAll(chords, 5, 0.3, 1);
  EXPECT_EQ(one, renderAll(chords, 5, 0.3, 7));
  EXPECT_EQ(one, renderAll(chords, 5, 0.3, 4096));
  EXPECT_EQ(one.size(), 3u * 2401u);
}

TEST(Renderer, WriteFailureStopsTheChord) {
  MemorySink sink;
  sink.failAfterWrites = 1;
  OutputBuffer output;
  startOutput(output, memorySink(sink), 100);
  std::vector<std::int16_t> notes = {12};
  Chord chord = chordOf(notes);
  RenderSettings settings;
  settings.noteDuration = 0.5;
  settings.maxChordNotes = 1;
  auto renderer = std::make_unique<Renderer>();
  startRenderer(*renderer, settings);
  EXPECT_FALSE(renderChord(*renderer, output, chord));
  EXPECT_EQ(sink.bytes.size(), 100u);
  EXPECT_FALSE(renderChord(*renderer, output, chord));  // from the cache: still failing
}

TEST(Renderer, MatchesTheLiteralFormulaOnRandomScores) {
  std::mt19937 random(20261207);
  for (int score = 0; score < 40; ++score) {
    std::int64_t maxNotes = std::uniform_int_distribution<std::int64_t>(1, 10)(random);
    double duration = std::uniform_real_distribution<double>(0.001, 7.0)(random);
    if (score % 4 == 0) duration = std::uniform_real_distribution<double>(0.001, 0.05)(random);
    std::vector<std::vector<std::int16_t>> chords;
    int chordCount = std::uniform_int_distribution<int>(1, score % 4 == 0 ? 30 : 4)(random);
    for (int c = 0; c < chordCount; ++c) {
      if (c > 0 && random() % 3 == 0) {
        chords.push_back(chords[random() % chords.size()]);  // a repeat, from the cache
        continue;
      }
      std::int64_t n = std::uniform_int_distribution<std::int64_t>(
          0, std::min<std::int64_t>(maxNotes, 10))(random);
      std::vector<std::int16_t> notes;
      for (std::int64_t i = 0; i < n; ++i)
        notes.push_back(static_cast<std::int16_t>(random() % 48));
      chords.push_back(notes);
    }
    ASSERT_EQ(renderAll(chords, maxNotes, duration, 65536),
              renderAllLiterally(chords, maxNotes, duration))
        << "score " << score << ", duration " << duration << ", M " << maxNotes;
  }
}

TEST(Renderer, FixedPointSamplesAreTheExactOnes) {
  // Chords of one to four notes are summed in fixed point (wrap sums off,
  // which they would take): each sample must be the one the double formula
  // gives, which the exact switch computes for every sample. Some scores
  // have chords of one note count only, so that all four gains are met at
  // their loudest.
  std::mt19937 random(24);
  for (int score = 0; score < 24; ++score) {
    std::int64_t maxNotes = score % 4 + 1;
    double duration = std::uniform_real_distribution<double>(0.0005, 3.0)(random);
    std::vector<std::vector<std::int16_t>> chords;
    for (int c = 0; c < 6; ++c) {
      std::int64_t n =
          score < 8 ? maxNotes : std::uniform_int_distribution<std::int64_t>(1, maxNotes)(random);
      std::vector<std::int16_t> notes;
      for (std::int64_t i = 0; i < n; ++i)
        notes.push_back(static_cast<std::int16_t>(random() % 48));
      chords.push_back(notes);
    }
    Bytes fast = renderAll(chords, maxNotes, duration, 65536, false, chosenWrapKernel(), false);
    ASSERT_EQ(fast, renderAll(chords, maxNotes, duration, 65536, true, chosenWrapKernel(), false))
        << "score " << score;
    ASSERT_EQ(fast, renderAllLiterally(chords, maxNotes, duration)) << "score " << score;
  }
}

TEST(Renderer, ManyNoteChordsOfFewSamplesMatchTheLiteralFormula) {
  // Chords of more than four notes and under 64 samples are summed in
  // tiles of 16, 8, 4 and 1 samples: 20, 56 and 63 samples take each mix.
  std::mt19937 random(8);
  for (double duration : {0.0025, 0.007, 0.0079}) {
    std::vector<std::vector<std::int16_t>> chords;
    for (std::size_t n : {5u, 9u, 16u, 33u}) {
      std::vector<std::int16_t> notes(n);
      for (std::int16_t& note : notes) note = static_cast<std::int16_t>(random() % 48);
      chords.push_back(notes);
    }
    EXPECT_EQ(renderAll(chords, 33, duration), renderAllLiterally(chords, 33, duration))
        << duration;
  }
}

TEST(Renderer, CacheKeepsChordsApartAndOverflowsSafely) {
  // The same notes in another order, a prefix, an immediate repeat, and
  // then more distinct chords, each twice, than the cache has slots.
  std::vector<std::vector<std::int16_t>> chords = {{1, 2, 3}, {1, 2, 3}, {3, 2, 1}, {1, 2},
                                                   {1, 2, 3}, {1, 2},    {3, 2, 1}};
  for (std::int16_t k = 0; k < 6000; ++k) {
    std::vector<std::int16_t> notes = {static_cast<std::int16_t>(k % 48),
                                       static_cast<std::int16_t>(k / 48 % 48),
                                       static_cast<std::int16_t>(k / 2304)};
    chords.push_back(notes);
    chords.push_back(notes);
  }
  EXPECT_EQ(renderAll(chords, 3, 0.0004, 4096), renderAllLiterally(chords, 3, 0.0004));
}

TEST(Renderer, MatchesTheLiteralFormulaBeyondItsTables) {
  // 5 s chords: the time table leaves room for only some pitch rows, so
  // later pitches are computed block by block.
  std::vector<std::vector<std::int16_t>> many;
  for (std::int16_t p = 0; p < 48; p += 2) many.push_back({p, static_cast<std::int16_t>(p + 1)});
  EXPECT_EQ(renderAll(many, 2, 5.0, 65536), renderAllLiterally(many, 2, 5.0));
  // 30 s chords: no tables at all.
  std::vector<std::vector<std::int16_t>> chords = {{3, 29, 47}, {11}, {3, 29, 47}};
  EXPECT_EQ(renderAll(chords, 3, 30.0, 65536), renderAllLiterally(chords, 3, 30.0));
}

TEST(Renderer, MatchesTheLiteralFormulaPastTheExactRemainderRange) {
  // Chord times beyond 1024 s fall back to fmod itself.
  Bytes fast = renderAll({{47}}, 1, 1030.0, 1 << 20);
  Bytes literal = renderAllLiterally({{47}}, 1, 1030.0);
  ASSERT_EQ(fast.size(), literal.size());
  EXPECT_TRUE(fast == literal);
}

TEST(ExhaustiveRamps, ExactForEveryChordTimeUpTo600Seconds) {
  // 230 million comparisons with the formula's own fmod: the pitches are
  // shared between two threads.
  std::int64_t mismatches[2] = {0, 0};
  auto compare = [&mismatches](int half) {
    std::vector<double> times(4096);
    std::vector<double> ramps(times.size());
    double t = 0.0;
    while (600.0 > t) {
      std::size_t count = 0;
      for (; count < times.size() && 600.0 > t; ++count, t = t + step) times[count] = t;
      for (int pitch = half; pitch < 48; pitch += 2) {
        double period = periodTable[pitch];
        rampValues(pitch, times.data(), count, ramps.data());
        for (std::size_t k = 0; k < count; ++k) {
          if (ramps[k] != (std::fmod(times[k], period) * 2.0) / period - 1.0) ++mismatches[half];
        }
      }
    }
  };
  std::thread other(compare, 1);
  compare(0);
  other.join();
  EXPECT_EQ(mismatches[0] + mismatches[1], 0);
}

// Every note count from 1 to 300, each in a score of its own (so that its
// fixed rows are built), at its loudest and at a lower gain, of pitches
// that repeat and of any, with the wrap sums and without: every chord's
// first sample lies on or near a whole number, where the fixed sums must
// give way to the double formula.
TEST(ExhaustiveRenderer, EveryNoteCountAtItsNearTiesMatchesTheLiteralFormula) {
  const WrapKernel kernel = chosenWrapKernel();
  for (bool wraps : {true, false}) {
    std::mt19937 random(300);
    for (std::int64_t n = 1; n <= 300; ++n) {
      for (std::int64_t maxNotes : {n, std::int64_t{300}}) {
        std::vector<std::int16_t> notes;
        unsigned span = n % 3 == 0 ? 3 : 48;
        for (std::int64_t i = 0; i < n; ++i)
          notes.push_back(static_cast<std::int16_t>(random() % span));
        std::vector<std::vector<std::int16_t>> chords = {notes};
        Bytes fast = renderAll(chords, maxNotes, 0.004, 65536, false, kernel, wraps);
        ASSERT_EQ(fast, renderAll(chords, maxNotes, 0.004, 65536, true, kernel, wraps))
            << n << " of " << maxNotes;
        ASSERT_EQ(fast, renderAllLiterally(chords, maxNotes, 0.004)) << n << " of " << maxNotes;
      }
    }
    // All of them in one score: without the wrap sums the first four counts
    // above four notes take the fixed sets, the rest tiles (under 64 notes)
    // or counted pitches; with them, all up to 127.
    std::vector<std::vector<std::int16_t>> chords;
    for (std::int64_t n = 1; n <= 300; ++n) {
      std::vector<std::int16_t> notes;
      for (std::int64_t i = 0; i < n; ++i)
        notes.push_back(static_cast<std::int16_t>(random() % 48));
      chords.push_back(notes);
    }
    Bytes fast = renderAll(chords, 300, 0.004, 65536, false, kernel, wraps);
    ASSERT_EQ(fast, renderAll(chords, 300, 0.004, 65536, true, kernel, wraps));
    ASSERT_EQ(fast, renderAllLiterally(chords, 300, 0.004));
  }
}

class WrapKernels : public testing::TestWithParam<WrapKernel> {};

// Chords of 3 to 127 notes summed from the periods their notes begin (or,
// where 2 g is whole and they are few, from their falls), by each kernel: of any pitches, of the
// highest alone (two periods of each note an eighth of a stretch: its byte lanes at their fullest),
// of a few high ones held for seconds (added a note at a time), and of high ones held until the
// periods near their bound of 2^16 (or pass it, and the chord takes another way); whole, and in
// pieces that split stretches.
TEST_P(WrapKernels, ChordsMatchTheLiteralFormula) {
  const WrapKernel kernel = GetParam();
  if (!wrapKernelAvailable(kernel)) {
    GTEST_SKIP() << "the " << wrapKernelName(kernel) << " kernel is not in this build or processor";
  }
  std::mt19937 random(255);
  for (int score = 0; score < 12; ++score) {
    std::int64_t n = score % 3 == 2 ? (score < 6 ? 3 + random() % 6 : 12 + random() % 3)
                     : score == 1   ? 127
                                    : 5 + random() % 123;
    double duration = score % 3 == 0 ? 0.004 + 0.001 * static_cast<double>(random() % 300)
                      : score == 1   ? 0.05
                                     : 3.0;
    std::vector<std::vector<std::int16_t>> chords;
    for (int c = 0; c < 2; ++c) {
      std::vector<std::int16_t> notes;
      for (std::int64_t i = 0; i < n; ++i) {
        auto pitch = score % 3 == 0 ? random() % 48 : score % 3 == 1 ? 47 : 40 + random() % 8;
        notes.push_back(static_cast<std::int16_t>(pitch));
      }
      chords.push_back(notes);
    }
    std::size_t blockSize = score % 2 == 0 ? 65536 : 1000 + random() % 200;
    Bytes fast = renderAll(chords, n + score % 2, duration, blockSize, false, kernel);
    ASSERT_EQ(fast, renderAll(chords, n + score % 2, duration, 65536, true, kernel)) << score;
    ASSERT_EQ(fast, renderAllLiterally(chords, n + score % 2, duration)) << score;
  }
  // Chords of A alone (110 to 880 Hz), whose falls are whole: their line
  // meets a whole number every few samples, where the sums must give way.
  const std::vector<std::int16_t> as = {24, 12, 36, 0, 24, 36};
  for (std::int64_t n : {3, 4, 6}) {
    std::vector<std::vector<std::int16_t>> chords = {{as.begin(), as.begin() + n}};
    Bytes fast = renderAll(chords, n, 0.3, 1000, false, kernel);
    ASSERT_EQ(fast, renderAllLiterally(chords, n, 0.3)) << n;
  }
}

INSTANTIATE_TEST_SUITE_P(Renderer, WrapKernels, testing::ValuesIn(allWrapKernels),
                         [](const testing::TestParamInfo<WrapKernel>& each) {
                           return std::string(wrapKernelName(each.param));
                         });

}  // namespace

TEST(Renderer, RepeatedSumIsTheSumOfItsSteps) {
  // Random terms of both signs and every size, and terms half a unit off the
  // units of the binades their sums pass (where rounding goes to even).
  std::mt19937_64 random(8);
  std::vector<double> terms = {0.0, 1.0, -0.75, 3.0 * std::ldexp(1.0, -50), 1e-310};
  for (int i = 0; i < 40; ++i) {
    double term = std::ldexp(std::uniform_real_distribution<double>(0.5, 1.0)(random),
                             -static_cast<int>(random() % 40));
    terms.push_back(i % 2 == 0 ? term : -term);
    terms.push_back(std::ldexp(static_cast<double>(random() % 64 + 1) + 0.5, -55));
  }
  for (double term : terms) {
    double u = 0.0;
    std::int64_t added = 0;
    for (std::int64_t count : {1, 2, 3, 5, 100, 4097, 65536, 300001}) {
      for (; added < count; ++added) u = term + u;
      ASSERT_EQ(repeatedSum(term, count), u) << term << " x " << count;
    }
  }
}

TEST(Renderer, ChordsOfManyNotesAreSummedExactly) {
  // Chords of many notes are summed from their pitches' counts: of one
  // pitch (all terms equal at every sample), of two, and of any, short
  // and long enough to go block by block.
  std::mt19937 random(64);
  for (int score = 0; score < 12; ++score) {
    std::int64_t n =
        std::uniform_int_distribution<std::int64_t>(64, score < 10 ? 3000 : 80)(random);
    std::vector<std::int16_t> notes;
    unsigned span = score % 3 == 0 ? 1 : score % 3 == 1 ? 2 : 48;
    unsigned low = static_cast<unsigned>(random() % 47);
    for (std::int64_t i = 0; i < n; ++i)
      notes.push_back(
          static_cast<std::int16_t>(span == 48 ? random() % 48 : low + random() % span));
    std::int64_t maxNotes = score % 2 == 0 ? n : n + 100;
    double duration = score < 10 ? 0.02 : 17.0;
    std::vector<std::vector<std::int16_t>> chords = {notes};
    Bytes fast = renderAll(chords, maxNotes, duration, 65536);
    ASSERT_EQ(fast, renderAll(chords, maxNotes, duration, 65536, true)) << "score " << score;
    ASSERT_EQ(fast, renderAllLiterally(chords, maxNotes, duration)) << "score " << score;
  }
}
