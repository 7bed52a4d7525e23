#include "driver/conversion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "driver/memory_conversion.h"
#include "driver/messages.h"
#include "memory_streams.h"
#include "sound/renderer.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Converts a score held in memory as the page and the fuzzer do.
struct Converted {
  Bytes wav;
  std::string out;
  std::string err;
  Outcome outcome;
};

Converted convert(const std::string& score, const std::string& name = "song.txt") {
  MemoryConversion result;
  convertMemory(reinterpret_cast<const unsigned char*>(score.data()), score.size(), name, result);
  return Converted{Bytes(result.wav.bytes, result.wav.bytes + result.wav.size), result.out,
                   result.err, result.outcome};
}

// Converts through a source and sink with faults on demand, capturing the console.
struct FaultyRun {
  MemorySource source;
  MemorySink sink;
  std::string out;
  std::string err;
  Outcome outcome;

  explicit FaultyRun(const std::string& score) {
    source.bytes = score;
    source.chunk = 4;
  }
  FaultyRun& convert() {
    auto outText = std::make_unique<TextOutput>();
    auto errText = std::make_unique<TextOutput>();
    outText->sink = stringSink(out);
    errText->sink = stringSink(err);
    ConsoleConversion console{Console{outText.get(), errText.get()}, "song.txt"};
    outcome = convertStreams(memorySource(source), memorySink(sink), consoleEvents(console));
    endOpenEcho(console);
    flushText(*outText);
    flushText(*errText);
    return *this;
  }
};

Outcome declare(double duration, std::int64_t chords, std::int32_t* dataSize = nullptr) {
  ScoreStats stats;
  stats.noteDuration = duration;
  stats.chordCount = chords;
  WaveFormat format;
  format.dataSize = -7;
  Outcome outcome = declareDataSize(stats, samplesPerChord(duration, 1.0 / 8000), format);
  if (dataSize != nullptr) *dataSize = format.dataSize;
  return outcome;
}

TEST(DeclareDataSize, ProductOfDurationRateAndChords) {
  std::int32_t size = 0;
  EXPECT_TRUE(succeeded(declare(0.5, 3, &size)));
  EXPECT_EQ(size, 12000);
  EXPECT_TRUE(succeeded(declare(0.001, 2, &size)));
  EXPECT_EQ(size, 16);
  EXPECT_TRUE(succeeded(declare(0.00001, 3, &size)));
  EXPECT_EQ(size, 0);  // truncated toward zero
  EXPECT_TRUE(succeeded(declare(1e300, 0, &size)));
  EXPECT_EQ(size, 0);
}

TEST(DeclareDataSize, NeverMoreThanTheSamplesWritten) {
  // Past about 78,869 s a chord, adding 1/8000 again and again falls short
  // of D * 8000 samples; the header declares what the file holds.
  std::int32_t size = 0;
  EXPECT_TRUE(succeeded(declare(100000.0, 1, &size)));
  EXPECT_EQ(size, 799999991);
  EXPECT_EQ(size, samplesPerChord(100000.0, 1.0 / 8000));
}

TEST(DeclareDataSize, NegativeDurationDeclaresNothing) {
  std::int32_t size = 0;
  EXPECT_TRUE(succeeded(declare(-0.5, 3, &size)));
  EXPECT_EQ(size, 0);
  EXPECT_TRUE(succeeded(declare(-1e300, 3, &size)));
  EXPECT_EQ(size, 0);
}

TEST(DeclareDataSize, TooLongForAWaveFile) {
  double infinity = std::numeric_limits<double>::infinity();
  EXPECT_EQ(declare(infinity, 0).cause, Cause::notFinite);
  EXPECT_EQ(declare(-infinity, 1).failure, Failure::tooLong);
  // Declared length: 2147483611 is the largest whose RIFF length fits.
  std::int32_t size = 0;
  EXPECT_TRUE(succeeded(declare(268435.0, 1, &size)));
  EXPECT_EQ(size, 2147480000);
  Outcome over = declare(268435.5, 1);
  EXPECT_EQ(over.cause, Cause::tooLarge);
  EXPECT_GT(over.wavBytes, 2147483647.0);
  EXPECT_LT(over.wavBytes, 2.2e9);
  // Only the declared sizes must fit, not the file with its one sample more a chord.
  EXPECT_TRUE(succeeded(declare(0.5, 536870, &size)));  // 44 + 4001 * 536870 bytes
  EXPECT_EQ(size, 2147480000);
  EXPECT_EQ(declare(0.5, 536871).failure, Failure::tooLong);  // declares 2147484000
}

TEST(ConvertMemory, HeaderEchoesSamplesAndWarnings) {
  Converted c = convert("0.001\r\n2d2m|2M |\n1x2d|");
  EXPECT_TRUE(succeeded(c.outcome));
  EXPECT_EQ(c.out, "2d2m\n2m\n1x2d\n");
  EXPECT_EQ(c.err,
            "song.txt:3:1: warning: skipped \"1x\": an octave digit needs a note letter "
            "(d r m f s l t) after it\n");
  ASSERT_EQ(c.wav.size(), 44u + 24u);
  EXPECT_EQ(c.wav[40], 24);  // declared: 0.001 s * 8000 * 3 chords
  Bytes expected = {8, 22, 37, 52, 67, 82, 97, 112, 68, 76, 84, 92, 101, 109, 117, 126};
  EXPECT_EQ(Bytes(c.wav.begin() + 44, c.wav.begin() + 60), expected);
}

// Collects what a conversion reports, as the page keeps it.
struct Records {
  std::vector<ChordRecord> chords;
  std::vector<std::vector<std::int16_t>> notes;
  std::vector<WarningRecord> warnings;
  std::string echo;
};

ConversionEvents recordsOf(Records& records) {
  ConversionEvents events;
  events.context = &records;
  events.echo = [](void* context, const char* text, std::size_t length) {
    static_cast<Records*>(context)->echo.append(text, length);
  };
  events.chord = [](void* context, const ChordRecord& chord) {
    auto& kept = *static_cast<Records*>(context);
    kept.chords.push_back(chord);
    kept.notes.emplace_back(chord.notes, chord.notes + chord.noteCount);
    kept.echo += '|';
  };
  events.warning = [](void* context, const WarningRecord& warning) {
    static_cast<Records*>(context)->warnings.push_back(warning);
  };
  return events;
}

TEST(ConvertMemory, ReportsChordsAndWarningsAsRecords) {
  Records records;
  ConversionEvents events = recordsOf(records);
  MemoryConversion result;
  std::string score = "0.001\r\n  1d 1M|\r\n|x2d|";
  convertMemory(reinterpret_cast<const unsigned char*>(score.data()), score.size(), "song.txt",
                result, SIZE_MAX, &events);
  EXPECT_EQ(result.out, "1d1m\n\nx2d\n");
  EXPECT_EQ(records.echo, "1d1m||x2d|");
  ASSERT_EQ(records.chords.size(), 3u);
  const ChordRecord& first = records.chords[0];
  EXPECT_EQ(first.index, 0);
  EXPECT_EQ(first.sampleCount, 8);
  EXPECT_EQ(first.offset, 9);  // the "1" after the blanks, through its bar
  EXPECT_EQ(first.length, 6);
  EXPECT_EQ(first.position.line, 2);
  EXPECT_EQ(first.position.column, 3);
  EXPECT_EQ(records.notes[0], (std::vector<std::int16_t>{12, 16}));
  const ChordRecord& rest = records.chords[1];  // no text: its bar
  EXPECT_EQ(rest.firstSample, 8);
  EXPECT_EQ(rest.offset, 17);
  EXPECT_EQ(rest.length, 1);
  EXPECT_EQ(rest.position.line, 3);
  EXPECT_EQ(rest.noteCount, 0);
  EXPECT_EQ(records.chords[2].firstSample, 16);
  EXPECT_EQ(records.notes[2], (std::vector<std::int16_t>{24}));
  ASSERT_EQ(records.warnings.size(), 1u);
  EXPECT_EQ(records.warnings[0].kind, WarningKind::skipped);
  EXPECT_EQ(records.warnings[0].offset, 18);
  EXPECT_EQ(records.warnings[0].length, 1);
  EXPECT_EQ(records.warnings[0].position.column, 2);
}

TEST(ConvertMemory, RefusesAScoreNamedLikeItsOutput) {
  for (const char* name : {"tune.wav", "a.wav.wav", "dir.x/.wav"}) {
    Converted c = convert("0.001\n1d|", name);
    EXPECT_EQ(c.outcome.cause, Cause::scoreIsOutput) << name;
    EXPECT_EQ(c.out, "File open error as write.\n");
    EXPECT_EQ(c.err,
              std::string("score2wav: cannot write \"") + name + "\": it is the score itself\n");
    EXPECT_TRUE(c.wav.empty());
  }
}

TEST(ConvertMemory, WarningsQuoteTheFilesOwnText) {
  // Blanks, case, a CR LF and control bytes as the file has them.
  Converted c = convert(std::string("1\n1d\"\x01\\|We sing |1X\r\n  Y2d|", 27));
  EXPECT_EQ(c.err,
            "song.txt:2:3: warning: skipped \"\\\"\\x01\\\\\": no note begins here\n"
            "song.txt:2:7: warning: skipped \"We sing\": no note begins here\n"
            "song.txt:2:16: warning: skipped \"1X\\x0D\\x0A  Y\": an octave digit needs a note "
            "letter (d r m f s l t) after it\n");
  EXPECT_EQ(c.out, "1d\"\x01\\\nwesing\n1xy2d\n");
}

TEST(ConvertMemory, LongRunsAreCutAndManyRunsCounted) {
  Converted c = convert("1\n|" + std::string(1000000, 'x') + "|");
  EXPECT_EQ(c.err, "song.txt:2:2: warning: skipped \"" + std::string(60, 'x') +
                       "...\" (1000000 characters): no note begins here\n"
                       "song.txt: warning: no chord holds a note that can be played, so the WAV "
                       "is silent; a note is an octave digit 0 to 3, then a letter d r m f s l t, "
                       "e.g. 2d\n");
  std::string many = "0.001\n";
  for (int i = 0; i < 150; ++i) many += "x1d|";
  Converted d = convert(many);
  EXPECT_EQ(d.out.size(), 150u * 4u);
  EXPECT_EQ(d.err.find("song.txt:2:1: warning: skipped \"x\": no note begins here\n"), 0u);
  std::size_t lines = 0;
  for (char ch : d.err) lines += ch == '\n';
  EXPECT_EQ(lines, 101u);
  EXPECT_NE(d.err.find("song.txt:2:397: warning: skipped \"x\": no note begins here\n"
                       "song.txt: warning: 50 more runs of skipped text were not shown\n"),
            std::string::npos);
}

TEST(ConvertMemory, WarnsAboutAChordLengthOfZeroOrBelow) {
  Converted noNumber = convert("Tempo 0.3\n1d|");
  EXPECT_EQ(noNumber.err,
            "song.txt:1:1: warning: the chord length reads as 0 seconds (the first line begins "
            "\"Tempo 0.3\"), so the WAV will hold no sound\n");
  EXPECT_EQ(noNumber.out, "1d\n");
  EXPECT_EQ(noNumber.wav.size(), 44u);
  Converted negative = convert("-0.5\n1d|");
  EXPECT_EQ(negative.err,
            "song.txt:1:1: warning: the chord length is negative (the first line begins "
            "\"-0.5\"), so the WAV will hold no sound\n");
  // No chord follows: the length loses nothing, but the silence is explained.
  EXPECT_EQ(convert("Tempo 0.3\n").err,
            "song.txt: warning: the score holds no chord, so the WAV is silent; a chord is notes "
            "ended by a bar, e.g. 2d2m |\n");
}

TEST(ConvertMemory, WarnsWhenABarIsForgottenAndCountsEveryWarning) {
  EXPECT_EQ(convert("0.001\n1d | 2s 2m").err,
            "song.txt:2:6: warning: 2 notes after the last bar are not played: a chord ends with "
            "\"|\"\n");
  EXPECT_EQ(convert("0.001\r\n1d\r\n 1D").err,
            "song.txt:2:1: warning: 2 notes are not played: the score has no bar, and a chord ends "
            "with \"|\"\n");
  Converted firstLine = convert("1d | 1r |\n1m |\n");
  EXPECT_EQ(
      firstLine.err,
      "song.txt:1:1: warning: the first line only gives the chord length, so its chords are not "
      "played, and every chord lasts 1 s (the first line begins \"1d | 1r |\")\n");
  EXPECT_EQ(firstLine.out, "1m\n");
  // A hundred warnings in all are shown: two about the first line, 98 runs.
  std::string many = "x | \n";
  for (int i = 0; i < 150; ++i) many += "x|";
  Converted runs = convert(many);
  EXPECT_EQ(std::count(runs.err.begin(), runs.err.end(), '\n'), 102);  // and: no note at all
  EXPECT_NE(runs.err.find("\nsong.txt: warning: 52 more runs of skipped text were not shown\n"),
            std::string::npos);
  Converted mixed = convert(many + "1d");
  EXPECT_NE(mixed.err.find("\nsong.txt: warning: 53 more warnings were not shown\n"),
            std::string::npos);
}

TEST(ConvertMemory, FailuresPrintTheirMessageAndReason) {
  Converted c = convert("1e400\n1d|", "big.txt");
  EXPECT_EQ(c.outcome.failure, Failure::tooLong);
  EXPECT_TRUE(c.wav.empty());
  EXPECT_EQ(c.out, "Score too long.\n");
  EXPECT_EQ(c.err, "score2wav: \"big.txt\": the chord length is not a finite number\n");
  Converted d = convert("300000\n1d|", "big.txt");
  EXPECT_EQ(d.err,
            "score2wav: \"big.txt\": the WAV would hold 2.4 GB; the format's limit is 2 GiB\n");
}

TEST(ConvertStreams, ReadErrorInEitherPass) {
  FaultyRun first("0.001\n1d|1m|1s|");
  first.source.failAfterReads = 2;
  first.convert();
  EXPECT_EQ(first.outcome.failure, Failure::readError);
  EXPECT_EQ(first.outcome.systemError, EIO);
  EXPECT_TRUE(first.sink.bytes.empty());  // nothing written before the pre-scan ends
  EXPECT_EQ(first.out, "");

  FaultyRun second("0.001\n1d|1m|1s|");
  second.source.failAfterSeek = true;
  EXPECT_EQ(second.convert().outcome.failure, Failure::readError);
}

TEST(ConvertStreams, ScoreEditedBetweenThePasses) {
  // (Text added after the last bar is not read again; the file's size tells.)
  const char* edits[] = {
      "0.001\n1d|1m|",       // a chord fewer
      "0.001\n1d|1m1s||",    // as many bytes, letters and notes, but a chord of two
      "0.001\n1d1m|1m|1s|",  // a note more
      "0.001\n1d|1x|1s|",    // a note fewer
  };
  for (const char* edited : edits) {
    FaultyRun run("0.001\n1d|1m|1s|");
    run.source.editedBytes = edited;
    run.convert();
    EXPECT_EQ(run.outcome.failure, Failure::readError) << edited;
    EXPECT_EQ(run.outcome.cause, Cause::changed) << edited;
  }
}

TEST(ConvertStreams, ScoreThatCannotBeReadTwice) {
  FaultyRun run("0.001\n1d|");
  run.source.seekable = false;
  EXPECT_EQ(run.convert().outcome.failure, Failure::readError);
  EXPECT_TRUE(run.sink.bytes.empty());
}

TEST(ConvertStreams, WriteErrorWhileRenderingAndAtFlush) {
  FaultyRun rendering("20\n1d|1m|1s|");  // 480000 bytes: more than one block
  rendering.sink.failAfterWrites = 0;
  EXPECT_EQ(rendering.convert().outcome.failure, Failure::writeError);
  EXPECT_EQ(rendering.outcome.systemError, ENOSPC);

  FaultyRun flushing("0.001\n1d|");  // all of it in the final flush
  flushing.sink.failAfterWrites = 0;
  EXPECT_EQ(flushing.convert().outcome.failure, Failure::writeError);
  EXPECT_EQ(flushing.out, "1d\n");
}

}  // namespace
