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
  for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file))
    text.push_back(static_cast<char>(c));
  return text;
}

// Converts a score held in memory, capturing the console.
struct MemoryRun {
  MemorySource source;
  MemorySink sink;
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  Failure failure = Failure::none;

  explicit MemoryRun(const std::string& score) {
    buildPeriodTable();
    source.bytes = score;
    source.chunk = 4;
  }
  MemoryRun& convert() {
    failure = convertStreams(memorySource(source), memorySink(sink), "song.txt", Console{out, err});
    return *this;
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
  Failure failure = declareDataSize(stats, samplesPerChord(duration, 1.0 / 8000), format);
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

TEST(ConvertStreams, HeaderEchoesSamplesAndWarnings) {
  MemoryRun run("0.001\r\n2d2m|2M |\n1x2d|");
  run.convert();
  EXPECT_EQ(run.failure, Failure::none);
  EXPECT_EQ(contents(run.out), "2d2m\n2m\n1x2d\n");
  EXPECT_EQ(contents(run.err), "song.txt:3:1: warning: skipped \"1x\"\n");
  ASSERT_EQ(run.sink.bytes.size(), 44u + 24u);
  EXPECT_EQ(run.sink.bytes[40], 24);  // declared: 0.001 s * 8000 * 3 chords
  std::vector<unsigned char> expected = {8,  22, 37, 52, 67,  82,  97,  112,
                                         68, 76, 84, 92, 101, 109, 117, 126};
  EXPECT_EQ(std::vector<unsigned char>(run.sink.bytes.begin() + 44, run.sink.bytes.begin() + 60),
            expected);
  EXPECT_TRUE(run.sink.finished);
}

TEST(ConvertStreams, WarningEscapesControlBytesAndQuotes) {
  MemoryRun run(std::string("1\n1d\"\x01\\|", 9));
  run.convert();
  EXPECT_EQ(contents(run.err), "song.txt:2:3: warning: skipped \"\\\"\\x01\\\\\"\n");
}

TEST(ConvertStreams, ReadErrorInEitherPass) {
  MemoryRun first("0.001\n1d|1m|1s|");
  first.source.failAfterReads = 2;
  EXPECT_EQ(first.convert().failure, Failure::readError);
  EXPECT_TRUE(first.sink.bytes.empty());  // nothing written before the pre-scan ends
  EXPECT_EQ(contents(first.out), "");

  MemoryRun second("0.001\n1d|1m|1s|");
  second.source.failAfterSeek = true;
  EXPECT_EQ(second.convert().failure, Failure::readError);
}

TEST(ConvertStreams, ScoreThatCannotBeReadTwice) {
  MemoryRun run("0.001\n1d|");
  run.source.seekable = false;
  EXPECT_EQ(run.convert().failure, Failure::readError);
  EXPECT_TRUE(run.sink.bytes.empty());
}

TEST(ConvertStreams, WriteErrorWhileRenderingAtFlushAndAtFinish) {
  MemoryRun rendering("20\n1d|1m|1s|");  // 480000 bytes: more than one block
  rendering.sink.failAfterWrites = 0;
  EXPECT_EQ(rendering.convert().failure, Failure::writeError);

  MemoryRun flushing("0.001\n1d|");  // all of it in the final flush
  flushing.sink.failAfterWrites = 0;
  EXPECT_EQ(flushing.convert().failure, Failure::writeError);
  EXPECT_EQ(contents(flushing.out), "1d\n");

  MemoryRun finishing("0.001\n1d|");
  finishing.sink.failFinish = true;
  EXPECT_EQ(finishing.convert().failure, Failure::writeError);
}

TEST(ConvertStreams, TooLongWritesAndEchoesNothing) {
  MemoryRun run("1e400\n1d|");
  EXPECT_EQ(run.convert().failure, Failure::tooLong);
  EXPECT_TRUE(run.sink.bytes.empty());
  EXPECT_EQ(contents(run.out), "");
}

}  // namespace
