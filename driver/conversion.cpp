#include "driver/conversion.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "driver/output_path.h"
#include "score/chord_parser.h"
#include "sound/renderer.h"
#include "sound/wave_writer.h"

namespace {

// The largest data length whose RIFF length (data + 36) fits 32 signed bits.
constexpr double largestDataSize = 2147483611.0;
constexpr double largestFileSize = 2147483647.0;

// Skipped runs waiting for the end of their chord's echo line, and the count
// of those beyond the first hundred, which are not shown.
struct SkippedWarnings {
  static constexpr int shownLimit = 100;
  SkippedRun held[shownLimit];
  int heldCount = 0;
  std::int64_t shown = 0;
  std::int64_t hidden = 0;
};

// Keeps a run for its warning while fewer than a hundred were shown; counts it otherwise.
void holdRun(void* context, const SkippedRun& run) {
  auto& warnings = *static_cast<SkippedWarnings*>(context);
  if (warnings.shown == SkippedWarnings::shownLimit) {
    ++warnings.hidden;
    return;
  }
  warnings.held[warnings.heldCount++] = run;
  ++warnings.shown;
}

// Prints the held warnings, each quoting its run as the file holds it.
void printHeldWarnings(SkippedWarnings& warnings, ScoreReader& reader, const std::string& scoreName,
                       const Console& console) {
  for (int i = 0; i < warnings.heldCount; ++i) {
    const SkippedRun& run = warnings.held[i];
    unsigned char quote[quoteLimit];
    std::int64_t wanted = run.end - run.start;
    std::size_t count = wanted < static_cast<std::int64_t>(quoteLimit)
                            ? static_cast<std::size_t>(wanted)
                            : quoteLimit;
    std::int64_t got = readBytesAt(reader, run.start, quote, count);
    warnSkipped(console, scoreName, run, quote, got < 0 ? 0 : static_cast<std::size_t>(got));
  }
  warnings.heldCount = 0;
}

// The outcome of a failed read, with the system's reason.
Outcome readFailure(const ScoreReader& reader) {
  return failed(Failure::readError, Cause::system, reader.error);
}

// The outcome of a failed write: out of memory for the memory sink, else
// the system's reason.
Outcome writeFailure(const OutputBuffer& output) {
  if (output.error == outOfMemoryError) return failed(Failure::outOfMemory);
  return failed(Failure::writeError, Cause::system, output.error);
}

// The second pass: parses, echoes and renders the chords the pre-scan
// counted, then checks that it met the same chords (the score did not change).
Outcome convertChords(ScoreReader& reader, const ScoreStats& stats, Chord& chord,
                      Renderer& renderer, OutputBuffer& output, const std::string& scoreName,
                      const Console& console) {
  SkippedWarnings warnings;
  ChordParser parser;
  parser.chord = &chord;
  parser.runs = SkippedRunSink{&warnings, holdRun};
  std::int64_t letters = 0;
  std::int64_t notes = 0;
  Outcome outcome;
  for (std::int64_t i = 0; i < stats.chordCount && succeeded(outcome); ++i) {
    bool whole = parseChord(reader, parser, *console.out);
    printHeldWarnings(warnings, reader, scoreName, console);
    letters += parser.letters;
    notes += parser.notesKept;
    if (!whole) {
      outcome = reader.failed ? readFailure(reader) : failed(Failure::readError, Cause::changed);
    } else if (parser.overflow || parser.letters > stats.maxChordNotes) {
      outcome = failed(Failure::readError, Cause::changed);
    } else if (!renderChord(renderer, output, chord)) {
      outcome = renderer.outOfMemory ? failed(Failure::outOfMemory) : writeFailure(output);
    }
  }
  warnHidden(console, scoreName, warnings.hidden);
  bool same = letters == stats.letterTotal && notes == stats.noteTotal &&
              readerOffset(reader) == stats.lastBarEnd;
  if (succeeded(outcome) && !same) outcome = failed(Failure::readError, Cause::changed);
  return outcome;
}

// The memory sink: bytes appended to a MemoryWav, which takes its whole
// size at once when told it.
int reserveMemory(void* context, std::int64_t total) {
  auto& wav = *static_cast<MemoryWav*>(context);
  if (total <= static_cast<std::int64_t>(wav.capacity)) return 0;
  if (static_cast<std::uint64_t>(total) > wav.limit) return outOfMemoryError;
  void* grown = std::realloc(wav.bytes, static_cast<std::size_t>(total));
  if (grown == nullptr) return outOfMemoryError;
  wav.bytes = static_cast<unsigned char*>(grown);
  wav.capacity = static_cast<std::size_t>(total);
  return 0;
}

// Appends count bytes (within the size reserved first); 0 or outOfMemoryError.
int writeMemory(void* context, const unsigned char* bytes, std::size_t count) {
  auto& wav = *static_cast<MemoryWav*>(context);
  int error = reserveMemory(context, static_cast<std::int64_t>(wav.size + count));
  if (error != 0) return error;
  std::memcpy(wav.bytes + wav.size, bytes, count);
  wav.size += count;
  return 0;
}

struct MemoryScore {
  const unsigned char* bytes;
  std::size_t size;
  std::size_t offset;
};

// The memory source: reads up to capacity bytes from its offset; 0 at the end.
std::int64_t readMemoryScore(void* context, unsigned char* buffer, std::size_t capacity) {
  auto& score = *static_cast<MemoryScore*>(context);
  std::size_t count = score.size - score.offset < capacity ? score.size - score.offset : capacity;
  if (count > 0) std::memcpy(buffer, score.bytes + score.offset, count);
  score.offset += count;
  return static_cast<std::int64_t>(count);
}

// Moves the memory source to offset; false outside the score.
bool seekMemoryScore(void* context, std::int64_t offset) {
  auto& score = *static_cast<MemoryScore*>(context);
  if (offset < 0 || static_cast<std::uint64_t>(offset) > score.size) return false;
  score.offset = static_cast<std::size_t>(offset);
  return true;
}

}  // namespace

Outcome declareDataSize(const ScoreStats& stats, std::int64_t chordSamples, WaveFormat& format) {
  double duration = stats.noteDuration;
  if (!std::isfinite(duration)) return failed(Failure::tooLong, Cause::notFinite);
  double chords = static_cast<double>(stats.chordCount);
  double declared = duration * format.byteRate * chords;
  // The renderer writes one sample more per chord than the declared length
  // counts (or, past 78,000 s a chord, a few fewer), so check the file too.
  double fileBytes = waveHeaderSize + static_cast<double>(chordSamples) * chords;
  if (declared > largestDataSize || fileBytes > largestFileSize) {
    Outcome outcome = failed(Failure::tooLong, Cause::tooLarge);
    outcome.wavBytes =
        fileBytes > declared + waveHeaderSize ? fileBytes : declared + waveHeaderSize;
    return outcome;
  }
  std::int64_t written = chordSamples * stats.chordCount;  // fits: checked above
  std::int64_t product = declared > 0.0 ? static_cast<std::int64_t>(declared) : 0;
  format.dataSize = static_cast<std::int32_t>(product < written ? product : written);
  return Outcome{};
}

Outcome convertStreams(ByteSource source, ByteSink sink, const std::string& scoreName,
                       const Console& console, std::size_t blockSize) {
  std::unique_ptr<ScoreReader> reader(new (std::nothrow) ScoreReader);
  std::unique_ptr<Renderer> renderer(new (std::nothrow) Renderer);
  if (!reader || !renderer) return failed(Failure::outOfMemory);
  startReader(*reader, source);
  ScoreStats stats;
  if (!scanScore(*reader, stats)) return readFailure(*reader);
  WaveFormat format;
  RenderSettings settings;
  settings.noteDuration = stats.noteDuration;
  settings.maxChordNotes = stats.maxChordNotes;
  settings.sampleStep = 1.0 / format.byteRate;
  startRenderer(*renderer, settings);
  Outcome outcome = declareDataSize(stats, renderer->chordSamples, format);
  if (!succeeded(outcome)) return outcome;
  if (!returnToMark(*reader, stats.chordStream)) return readFailure(*reader);

  std::int64_t fileBytes = waveHeaderSize + renderer->chordSamples * stats.chordCount;
  int error = sink.reserve != nullptr ? sink.reserve(sink.context, fileBytes) : 0;
  if (error == outOfMemoryError) {
    Outcome tooLarge = failed(Failure::outOfMemory);
    tooLarge.wavBytes = static_cast<double>(fileBytes);
    return tooLarge;
  }
  if (error != 0) return failed(Failure::writeError, Cause::system, error);
  std::unique_ptr<std::int16_t[]> notes(
      new (std::nothrow) std::int16_t[static_cast<std::size_t>(stats.maxKeptNotes)]);
  OutputBuffer output;
  if (!notes || !startOutput(output, sink, blockSize)) return failed(Failure::outOfMemory);
  unsigned char header[waveHeaderSize];
  writeWaveHeader(header, format);
  if (!writeOutput(output, header, sizeof header)) return writeFailure(output);

  warnAboutHeader(console, scoreName, stats.noteDuration, stats.chordCount, stats.headerText,
                  stats.headerLength);
  Chord chord;
  chord.notes = notes.get();
  chord.capacity = stats.maxKeptNotes;
  outcome = convertChords(*reader, stats, chord, *renderer, output, scoreName, console);
  if (!succeeded(outcome)) return outcome;
  if (!finishOutput(output)) return writeFailure(output);
  return Outcome{};
}

MemoryWav::~MemoryWav() { std::free(bytes); }

void convertMemory(const unsigned char* bytes, std::size_t size, const std::string& scoreName,
                   MemoryConversion& result, std::size_t wavLimit) {
  MemoryScore score{bytes, size, 0};
  result.wav.limit = wavLimit;
  ByteSource source;
  source.context = &score;
  source.read = readMemoryScore;
  source.seek = seekMemoryScore;
  ByteSink sink;
  sink.context = &result.wav;
  sink.write = writeMemory;
  sink.reserve = reserveMemory;
  std::unique_ptr<TextOutput> out(new (std::nothrow) TextOutput);
  std::unique_ptr<TextOutput> err(new (std::nothrow) TextOutput);
  if (!out || !err) {
    result.outcome = failed(Failure::outOfMemory);
    return;
  }
  out->sink = stringSink(result.out);
  err->sink = stringSink(result.err);
  Console console{out.get(), err.get()};
  result.outcome = convertStreams(source, sink, scoreName, console);
  reportOutcome(console, result.outcome, scoreName, makeOutputName(scoreName));
  flushText(*out);
  flushText(*err);
  if (!succeeded(result.outcome)) result.wav.size = 0;
}
