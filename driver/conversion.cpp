#include "driver/conversion.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "base/allocation.h"
#include "driver/output_path.h"
#include "score/chord_parser.h"
#include "score/text_decoder.h"
#include "sound/renderer.h"
#include "sound/wave_writer.h"

namespace {

// The largest data length whose RIFF length (data + 36) fits 32 signed bits.
constexpr double largestDataSize = 2147483611.0;

// The run's warnings: the first hundred are reported, the rest counted. A
// chord's skipped runs wait, holding their place, for the end of its echo line.
struct Warnings {
  static constexpr int shownLimit = 100;
  ConversionEvents events;
  std::int64_t shown = 0;
  std::int64_t hidden = 0;
  bool hiddenOnlySkipped = true;
  SkippedRun held[shownLimit];
  int heldCount = 0;
  std::int64_t skippedRuns = 0;  // shown or not
  bool hinted = false;           // a letter name has been told how a note is written
};

// True while fewer than a hundred warnings were shown or are held.
bool roomForWarning(const Warnings& warnings) {
  return warnings.shown + warnings.heldCount < Warnings::shownLimit;
}

// Hands a warning to the front end, if it listens.
void tell(const Warnings& warnings, const WarningRecord& warning) {
  if (warnings.events.warning != nullptr) warnings.events.warning(warnings.events.context, warning);
}

// Reports a warning while there is room for it; counts it otherwise.
void report(Warnings& warnings, const WarningRecord& warning) {
  if (!roomForWarning(warnings)) {
    ++warnings.hidden;
    warnings.hiddenOnlySkipped = warnings.hiddenOnlySkipped && warning.kind == WarningKind::skipped;
    return;
  }
  ++warnings.shown;
  tell(warnings, warning);
}

// Keeps a run for its warning while there is room for it; counts it otherwise.
void holdRun(void* context, const SkippedRun& run) {
  auto& warnings = *static_cast<Warnings*>(context);
  ++warnings.skippedRuns;
  if (!roomForWarning(warnings)) {
    ++warnings.hidden;
    return;
  }
  warnings.held[warnings.heldCount++] = run;
}

// Reports the held runs, each quoting the file's own bytes.
void reportHeldRuns(Warnings& warnings, ScoreReader& reader) {
  int held = warnings.heldCount;
  warnings.heldCount = 0;
  for (int i = 0; i < held; ++i) {
    const SkippedRun& run = warnings.held[i];
    unsigned char quote[quoteLimit];
    WarningRecord warning;
    warning.kind = WarningKind::skipped;
    warning.offset = run.start;
    warning.length = run.end - run.start;
    warning.position = run.position;
    std::size_t wanted = warning.length < static_cast<std::int64_t>(quoteLimit)
                             ? static_cast<std::size_t>(warning.length)
                             : quoteLimit;
    std::int64_t got = readBytesAt(reader, run.start, quote, wanted);
    warning.quote = quote;
    warning.quoteLength = got < 0 ? 0 : static_cast<std::size_t>(got);
    warning.skip = explainSkipped(quote, warning.quoteLength);
    if (warning.skip.reason == SkipReason::letterName && !warnings.hinted) {
      warning.showHint = true;
      warnings.hinted = true;
    }
    report(warnings, warning);
  }
}

// Reports how many warnings were not shown, if any.
void reportHidden(Warnings& warnings) {
  if (warnings.hidden == 0) return;
  WarningRecord warning;
  warning.kind = WarningKind::hidden;
  warning.count = warnings.hidden;
  warning.onlySkipped = warnings.hiddenOnlySkipped;
  tell(warnings, warning);
}

// Says, after every other warning, that a score whose chord text held not
// one note makes a silent WAV, and how a note is written. It is never
// hidden: it is what a score of letter names most needs to hear.
void warnIfNoNote(Warnings& warnings, const ScoreStats& stats) {
  if (stats.noteTotal > 0 || warnings.skippedRuns == 0) return;
  WarningRecord warning;
  warning.kind = WarningKind::noPlayableNote;
  warning.showHint = true;
  tell(warnings, warning);
}

// Says, after every other warning, that a score without a single chord
// (empty, or only its first line) makes a silent WAV, and how a chord is
// written; unless the warning about notes without a bar already said it.
void warnIfNoChord(Warnings& warnings, const ScoreStats& stats) {
  if (stats.chordCount > 0 || stats.trailingLetters > 0) return;
  WarningRecord warning;
  warning.kind = WarningKind::noChord;
  tell(warnings, warning);
}

// Warns, before the first echo, about what the first line loses: a chord
// length of 0 while chords follow, a negative one, and chords of its own;
// and about a chord length so long it is likely a slip. Each quotes the
// line's beginning.
void warnAboutHeader(Warnings& warnings, const ScoreStats& stats, std::int64_t chordSamples) {
  WarningRecord warning;
  std::size_t length = stats.headerLength;
  if (length > 0 && stats.headerText[length - 1] == '\n') --length;
  warning.length = static_cast<std::int64_t>(length);
  warning.quote = reinterpret_cast<const unsigned char*>(stats.headerText);
  warning.quoteLength = length < quoteLimit ? length : quoteLimit;
  if (stats.noteDuration == 0.0 && stats.chordCount > 0) {
    warning.kind = WarningKind::zeroLength;
    report(warnings, warning);
  } else if (stats.noteDuration < 0.0) {
    warning.kind = WarningKind::negativeLength;
    report(warnings, warning);
  }
  if (stats.noteDuration > longChordSeconds && stats.chordCount > 0) {
    warning.kind = WarningKind::longChord;
    warning.chordSeconds = stats.noteDuration;
    warning.wavSamples = chordSamples * stats.chordCount;
    report(warnings, warning);
  }
  if (stats.barInHeader) {
    warning.kind = WarningKind::barOnFirstLine;
    warning.chordSeconds = stats.noteDuration;  // what a missing first line's first digit became
    report(warnings, warning);
  }
}

// Reads on from the reader's place to the file offset target (ahead of it,
// at a character) and returns target's place; false if reading fails first.
bool readOnTo(ScoreReader& reader, std::int64_t target, TextPosition& place) {
  while (readerOffset(reader) < target) {
    if (reader.next == reader.length && !refillReader(reader)) return false;
    ScoreCursor cursor = cursorOf(reader);
    while (cursor.next < cursor.end && cursorOffset(cursor) < target) takeChar(cursor);
    keepCursor(reader, cursor);
  }
  place = TextPosition{reader.line, target - reader.lineStart + 1};
  return true;
}

// Returns the file offset where the note of the letter at offset begins:
// at the octave digit before it, blanks between them passed over as the
// grammar passes them, or at the letter itself when no digit stands there.
// Nothing before from is looked at.
std::int64_t noteStart(ScoreReader& reader, std::int64_t offset, std::int64_t from) {
  unsigned char bytes[256];
  std::int64_t end = offset;  // looked at: [end, offset)
  unsigned char after = 0;    // the byte at end
  while (end > from) {
    std::int64_t start = end - static_cast<std::int64_t>(sizeof bytes) > from
                             ? end - static_cast<std::int64_t>(sizeof bytes)
                             : from;
    std::size_t count = static_cast<std::size_t>(end - start);
    if (readBytesAt(reader, start, bytes, count) != static_cast<std::int64_t>(count)) return offset;
    for (std::size_t i = count; i-- > 0;) {
      unsigned char c = bytes[i];
      bool blank = scoreFormat::isBlank(c) || (c == '\r' && after == '\n');
      after = c;
      if (blank) continue;
      return c >= '0' && c <= '9' ? start + static_cast<std::int64_t>(i) : offset;
    }
    end = start;
  }
  return offset;
}

// Warns, after the last chord, about note letters that no bar ends, from
// the first note's octave digit (or its letter, when none stands before it).
// The reader stands just after the last bar.
Outcome warnAboutTrailingNotes(Warnings& warnings, ScoreReader& reader, const ScoreStats& stats) {
  if (stats.trailingLetters == 0) return Outcome{};
  WarningRecord warning;
  warning.kind =
      stats.chordCount > 0 ? WarningKind::notesAfterLastBar : WarningKind::notesWithoutBar;
  warning.offset = noteStart(reader, stats.trailingStart, stats.lastBarEnd);
  warning.length = stats.trailingEnd - warning.offset;
  warning.count = stats.trailingLetters;
  if (!readOnTo(reader, warning.offset, warning.position)) {
    return failed(Failure::readError, Cause::system, reader.error);
  }
  report(warnings, warning);
  return Outcome{};
}

// The outcome of a failed read, with the system's reason.
Outcome readFailure(const ScoreReader& reader) {
  return failed(Failure::readError, Cause::system, reader.error);
}

// The outcome of a failed write: out of memory for the memory sink, else
// the system's reason.
Outcome writeFailure(const OutputBuffer& output) {
  if (output.error == portOutOfMemory) return outOfMemory();
  return failed(Failure::writeError, Cause::system, output.error);
}

// Returns the record of the chord the parser has just read.
ChordRecord recordOf(const ChordParser& parser, std::int64_t index, std::int64_t chordSamples) {
  ChordRecord record;
  record.index = index;
  record.firstSample = index * chordSamples;
  record.sampleCount = chordSamples;
  record.offset = parser.textStart;
  record.length = parser.textEnd - parser.textStart;
  // Field by field, as the parser wrote them: one wide read would wait for both stores.
  record.position.line = parser.textPosition.line;
  record.position.column = parser.textPosition.column;
  record.notes = parser.chord->notes;
  record.noteCount = parser.chord->noteCount;
  return record;
}

// The second pass: parses, echoes, records and renders the chords the
// pre-scan counted, then checks that it met the same chords (the score did
// not change).
Outcome convertChords(ScoreReader& reader, const ScoreStats& stats, Chord& chord,
                      Renderer& renderer, OutputBuffer& output, Warnings& warnings) {
  const ConversionEvents& events = warnings.events;
  ChordParser parser;
  parser.chord = &chord;
  parser.runs = SkippedRunSink{&warnings, holdRun};
  EchoSink echo{events.context, events.echo};
  std::int64_t letters = 0;
  std::int64_t notes = 0;
  for (std::int64_t i = 0; i < stats.chordCount; ++i) {
    if (!parseChord(reader, parser, echo)) {
      return reader.failed ? readFailure(reader) : failed(Failure::readError, Cause::changed);
    }
    if (parser.overflow || parser.letters > stats.maxChordNotes) {
      return failed(Failure::readError, Cause::changed);
    }
    letters += parser.letters;
    notes += parser.notesKept;
    if (events.chord != nullptr) {
      events.chord(events.context, recordOf(parser, i, renderer.chordSamples));
    }
    reportHeldRuns(warnings, reader);
    if (!renderChord(renderer, output, chord)) {
      return renderer.outOfMemory ? outOfMemory() : writeFailure(output);
    }
  }
  bool same = letters == stats.letterTotal && notes == stats.noteTotal &&
              readerOffset(reader) == stats.lastBarEnd;
  if (!same) return failed(Failure::readError, Cause::changed);
  Outcome outcome = warnAboutTrailingNotes(warnings, reader, stats);
  reportHidden(warnings);
  if (succeeded(outcome)) warnIfNoNote(warnings, stats);
  if (succeeded(outcome)) warnIfNoChord(warnings, stats);
  return outcome;
}

// The memory sink: bytes appended to a MemoryWav, which takes its whole
// size at once when told it.
PortResult reserveMemory(void* context, std::int64_t total) {
  auto& wav = *static_cast<MemoryWav*>(context);
  if (total <= static_cast<std::int64_t>(wav.capacity)) return portOk;
  if (static_cast<std::uint64_t>(total) > wav.limit) return portOutOfMemory;
  void* grown = std::realloc(wav.bytes, static_cast<std::size_t>(total));
  if (grown == nullptr) return portOutOfMemory;
  wav.bytes = static_cast<unsigned char*>(grown);
  wav.capacity = static_cast<std::size_t>(total);
  return portOk;
}

// Appends count bytes (within the size reserved first).
PortResult writeMemory(void* context, const unsigned char* bytes, std::size_t count) {
  auto& wav = *static_cast<MemoryWav*>(context);
  PortResult result = reserveMemory(context, static_cast<std::int64_t>(wav.size + count));
  if (result != portOk) return result;
  std::memcpy(wav.bytes + wav.size, bytes, count);
  wav.size += count;
  return portOk;
}

// Lends the space reserved after the bytes written, if any.
unsigned char* lendMemory(void* context, std::size_t& room) {
  auto& wav = *static_cast<MemoryWav*>(context);
  room = wav.capacity - wav.size;
  return room > 0 ? wav.bytes + wav.size : nullptr;
}

// Takes count bytes made in the space lent.
PortResult takeMemory(void* context, std::size_t count) {
  static_cast<MemoryWav*>(context)->size += count;
  return portOk;
}

}  // namespace

namespace {

// The memory source: reads up to capacity bytes from its offset.
PortResult readMemoryScore(void* context, unsigned char* buffer, std::size_t capacity,
                           std::size_t& count) {
  auto& score = *static_cast<MemoryScore*>(context);
  count = score.size - score.offset < capacity ? score.size - score.offset : capacity;
  if (count > 0) std::memcpy(buffer, score.bytes + score.offset, count);
  score.offset += count;
  return portOk;
}

// Moves the memory source to offset, within the score.
PortResult seekMemoryScore(void* context, std::int64_t offset) {
  auto& score = *static_cast<MemoryScore*>(context);
  if (offset < 0 || static_cast<std::uint64_t>(offset) > score.size) return EINVAL;
  score.offset = static_cast<std::size_t>(offset);
  return portOk;
}

}  // namespace

ByteSource memoryScoreSource(MemoryScore& score) {
  return ByteSource{&score, readMemoryScore, seekMemoryScore};
}

Outcome declareDataSize(const ScoreStats& stats, std::int64_t chordSamples, WaveFormat& format) {
  double duration = stats.noteDuration;
  if (!std::isfinite(duration)) return failed(Failure::tooLong, Cause::notFinite);
  double chords = static_cast<double>(stats.chordCount);
  double declared = duration * format.byteRate * chords;
  if (declared > largestDataSize) {
    // The renderer writes one sample more per chord than the declared length
    // counts (or, past 78,000 s a chord, a few fewer): say the larger size.
    double fileBytes = waveHeaderSize + static_cast<double>(chordSamples) * chords;
    Outcome outcome = failed(Failure::tooLong, Cause::tooLarge);
    outcome.wavBytes =
        fileBytes > declared + waveHeaderSize ? fileBytes : declared + waveHeaderSize;
    return outcome;
  }
  // Fits: about the declared length, and one sample more a chord.
  std::int64_t written = chordSamples * stats.chordCount;
  std::int64_t product = declared > 0.0 ? static_cast<std::int64_t>(declared) : 0;
  format.dataSize = static_cast<std::int32_t>(product < written ? product : written);
  return Outcome{};
}

Outcome convertStreams(ByteSource source, ByteSink sink, const ConversionEvents& events,
                       std::size_t blockSize) {
  std::unique_ptr<ScoreReader> reader(new (std::nothrow) ScoreReader);
  std::unique_ptr<Renderer> renderer(new (std::nothrow) Renderer);
  std::unique_ptr<Warnings> warnings(new (std::nothrow) Warnings);
  std::unique_ptr<TextDecoder> decoder(new (std::nothrow) TextDecoder);
  if (!reader || !renderer || !warnings || !decoder) return outOfMemory();
  warnings->events = events;
  startReader(*reader, decodedSource(*decoder, source));
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
  PortResult reserved = sink.reserve != nullptr ? sink.reserve(sink.context, fileBytes) : portOk;
  if (reserved == portOutOfMemory) return outOfMemory(static_cast<double>(fileBytes));
  if (reserved != portOk) return failed(Failure::writeError, Cause::system, reserved);
  OwnedArray<std::int16_t> notes =
      allocateArray<std::int16_t>(static_cast<std::size_t>(stats.maxKeptNotes));
  OutputBuffer output;
  if (!notes || !startOutput(output, sink, blockSize)) return outOfMemory();
  unsigned char header[waveHeaderSize];
  writeWaveHeader(header, format);
  if (!writeOutput(output, header, sizeof header)) return writeFailure(output);

  warnAboutHeader(*warnings, stats, renderer->chordSamples);
  Chord chord;
  chord.notes = notes.get();
  chord.capacity = stats.maxKeptNotes;
  outcome = convertChords(*reader, stats, chord, *renderer, output, *warnings);
  if (!succeeded(outcome)) return outcome;
  if (!flushOutput(output)) return writeFailure(output);
  return Outcome{};
}

MemoryWav::~MemoryWav() { std::free(bytes); }

Outcome convertBytes(const unsigned char* bytes, std::size_t size, const std::string& scoreName,
                     const ConversionEvents& events, MemoryWav& wav, std::size_t blockSize) {
  if (makeOutputName(scoreName) == scoreName) {
    return failed(Failure::openWrite, Cause::scoreIsOutput);
  }
  MemoryScore score{bytes, size, 0};
  ByteSource source = memoryScoreSource(score);
  ByteSink sink{&wav, writeMemory, reserveMemory, lendMemory, takeMemory};
  Outcome outcome = convertStreams(source, sink, events, blockSize);
  if (!succeeded(outcome)) wav.size = 0;
  return outcome;
}
