#include "driver/conversion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "memory_streams.h"
#include "sound/period_table.h"

namespace {

// Reads back everything written to a temporary stdio file.
std::string contents(std::FILE* file) {
  std::fflush(file);
  std::rewind(file);
  std::string text;
  for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) text.push_back(static_cast<char>(c));
  return text;
}

// Runs the pre-scan and the second pass of a score held in memory.
struct MemoryRun {
  MemorySource source;
  MemorySink sink;
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  Failure failure = Failure::none;

  explicit MemoryRun(const std::string& score, std::int64_t failReadsAfterScan = -1,
                     std::int64_t failWritesAfter = -1) {
    buildPeriodTable();
    source.bytes = score;
    sink.failAfterWrites = failWritesAfter;
    auto reader = std::make_unique<ScoreReader>();
    startReader(*reader, memorySource(source));
    ScoreStats stats;
    EXPECT_TRUE(scanScore(*reader, stats));
    EXPECT_TRUE(returnToMark(*reader, stats.chordStream));
    source.failAfterReads = failReadsAfterScan;
    source.chunk = 4;
    OutputBuffer output;
    startOutput(output, memorySink(sink), 16);
    Chord chord;
    chord.notes.assign(static_cast<std::size_t>(stats.maxChordNotes), 0);
    RenderSettings settings;
    settings.noteDuration = stats.noteDuration;
    settings.maxChordNotes = stats.maxChordNotes;
    failure = convertScore(*reader, output, chord, settings, "song.txt", Console{out, err});
    if (failure == Failure::none && !flushOutput(output)) failure = Failure::writeError;
  }
  ~MemoryRun() {
    std::fclose(out);
    std::fclose(err);
  }
};

Failure declare(double duration, std::int64_t chords, std::int32_t* dataSize = nullptr) {
  ScoreStats stats;
  stats.noteDuration = duration;
  stats.chordCount = chords;
  WaveFormat format;
  format.dataSize = -7;
  Failure failure = declareDataSize(stats, format);
  if (dataSize != nullptr) *dataSize = format.dataSize;
  return failure;
}

TEST(DeclareDataSize, ProductOfDurationRateAndChords) {
  std::int32_t size = 0;
  EXPECT_EQ(declare(0.5, 3, &size), Failure::none);
  EXPECT_EQ(size, 12000);
  EXPECT_EQ(declare(0.001, 2, &size), Failure::none);
  EXPECT_EQ(size, 16);
  EXPECT_EQ(declare(0.00001, 3, &size), Failure::none);
  EXPECT_EQ(size, 0);  // truncated toward zero
  EXPECT_EQ(declare(1e300, 0, &size), Failure::none);
  EXPECT_EQ(size, 0);
}

TEST(DeclareDataSize, NegativeDurationDeclaresNothing) {
  std::int32_t size = 0;
  EXPECT_EQ(declare(-0.5, 3, &size), Failure::none);
  EXPECT_EQ(size, 0);
  EXPECT_EQ(declare(-1e300, 3, &size), Failure::none);
  EXPECT_EQ(size, 0);
}

TEST(DeclareDataSize, TooLongForAWaveFile) {
  double infinity = std::numeric_limits<double>::infinity();
  EXPECT_EQ(declare(infinity, 0), Failure::tooLong);
  EXPECT_EQ(declare(-infinity, 1), Failure::tooLong);
  // Declared length: 2147483611 is the largest whose RIFF length fits.
  std::int32_t size = 0;
  EXPECT_EQ(declare(268435.0, 1, &size), Failure::none);
  EXPECT_EQ(size, 2147480000);
  EXPECT_EQ(declare(268435.5, 1), Failure::tooLong);
  // The file: 44 bytes and one sample more per chord than declared.
  EXPECT_EQ(declare(0.5, 536736, &size), Failure::none);  // 44 + 4001 * 536736 fits
  EXPECT_EQ(size, 2146944000);
  EXPECT_EQ(declare(0.5, 536737, &size), Failure::tooLong);  // declares 2146948000, but
                                                             // 44 + 4001 * 536737 does not fit
}

TEST(ConvertScore, EchoesRendersAndWarns) {
  MemoryRun run("0.001\r\n2d2m|2M |\n1x2d|");
  EXPECT_EQ(run.failure, Failure::none);
  EXPECT_EQ(contents(run.out), "2d2m\n2m\n1x2d\n");
  EXPECT_EQ(contents(run.err), "song.txt:3:1: warning: skipped \"1x\"\n");
  std::vector<unsigned char> expected = {8, 22, 37, 52, 67, 82, 97, 112,
                                         68, 76, 84, 92, 101, 109, 117, 126};
  ASSERT_EQ(run.sink.bytes.size(), 24u);
  EXPECT_EQ(std::vector<unsigned char>(run.sink.bytes.begin(), run.sink.bytes.begin() + 16), expected);
}

TEST(ConvertScore, WarningEscapesControlBytesAndQuotes) {
  MemoryRun run(std::string("1\n1d\"\x01\\|", 9));
  EXPECT_EQ(contents(run.err), "song.txt:2:3: warning: skipped \"\\\"\\x01\\\\\"\n");
}

TEST(ConvertScore, ReadErrorInSecondPass) {
  MemoryRun run("0.001\n1d|1m|1s|", 1);
  EXPECT_EQ(run.failure, Failure::readError);
}

TEST(ConvertScore, WriteError) {
  MemoryRun run("0.01\n1d|1m|1s|", -1, 2);
  EXPECT_EQ(run.failure, Failure::writeError);
}

}  // namespace
