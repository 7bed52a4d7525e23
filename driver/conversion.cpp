#include "driver/conversion.h"

#include <cmath>
#include <memory>
#include <vector>

#include "driver/file_system.h"
#include "driver/output_path.h"
#include "score/chord_parser.h"
#include "sound/wave_writer.h"

namespace {

// The largest data length whose RIFF length (data + 36) fits 32 signed bits.
constexpr double largestDataSize = 2147483611.0;
constexpr std::int64_t largestFileSize = 2147483647;

// Writes text to file with bytes that would disturb a console line escaped.
void printEscaped(std::FILE* file, const char* text, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      std::fprintf(file, "\\%c", c);
    } else if (c < 0x20 || c == 0x7F) {
      std::fprintf(file, "\\x%02X", c);
    } else {
      std::fputc(c, file);
    }
  }
}

// Warns on err about each run of chord text the parser skipped.
void reportSkipped(const Console& console, const std::string& scoreName, const ChordText& text,
                   const std::vector<SkippedRun>& skipped) {
  if (skipped.empty()) return;
  std::fflush(console.out);  // keep the warnings after the echo they follow
  for (const SkippedRun& run : skipped) {
    TextPosition at = positionOf(text, run.start);
    std::fprintf(console.err, "%s:%lld:%lld: warning: skipped \"", scoreName.c_str(),
                 static_cast<long long>(at.line), static_cast<long long>(at.column));
    printEscaped(console.err, text.text.data() + run.start, run.length);
    std::fputs("\"\n", console.err);
  }
  std::fflush(console.err);
}

// Writes the chord text as the chord's echo line.
void echoChord(const Console& console, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), console.out);
  std::fputc('\n', console.out);
}

}  // namespace

Failure declareDataSize(const ScoreStats& stats, std::int64_t chordSamples, WaveFormat& format) {
  double duration = stats.noteDuration;
  if (!std::isfinite(duration)) return Failure::tooLong;
  double declared = duration * format.byteRate * static_cast<double>(stats.chordCount);
  if (declared > largestDataSize) return Failure::tooLong;
  format.dataSize = declared > 0.0 ? static_cast<std::int32_t>(declared) : 0;
  // The renderer writes one sample more per chord than the declared length
  // counts, so the file itself may still be too large.
  if (stats.chordCount > 0 &&
      chordSamples > (largestFileSize - waveHeaderSize) / stats.chordCount) {
    return Failure::tooLong;
  }
  return Failure::none;
}

Failure convertScore(ScoreReader& reader, OutputBuffer& output, Chord& chord, Renderer& renderer,
                     const std::string& scoreName, const Console& console) {
  ChordText text;
  std::vector<SkippedRun> skipped;
  while (readChordText(reader, text)) {
    parseChord(text.text.data(), text.text.size(), chord, skipped);
    echoChord(console, text.text);
    reportSkipped(console, scoreName, text, skipped);
    if (!renderChord(renderer, output, chord)) return Failure::writeError;
  }
  return reader.failed ? Failure::readError : Failure::none;
}

Failure convertStreams(ByteSource source, ByteSink sink, const std::string& scoreName,
                       const Console& console, std::size_t blockSize) {
  auto reader = std::make_unique<ScoreReader>();
  startReader(*reader, source);
  ScoreStats stats;
  if (!scanScore(*reader, stats)) return Failure::readError;
  WaveFormat format;
  RenderSettings settings;
  settings.noteDuration = stats.noteDuration;
  settings.maxChordNotes = stats.maxChordNotes;
  settings.sampleStep = 1.0 / format.byteRate;
  auto renderer = std::make_unique<Renderer>();
  startRenderer(*renderer, settings);
  Failure failure = declareDataSize(stats, renderer->chordSamples, format);
  if (failure != Failure::none) return failure;
  if (!returnToMark(*reader, stats.chordStream)) return Failure::readError;

  OutputBuffer output;
  startOutput(output, sink, blockSize);
  unsigned char header[waveHeaderSize];
  writeWaveHeader(header, format);
  if (!writeOutput(output, header, sizeof header)) return Failure::writeError;

  Chord chord;
  chord.notes.assign(static_cast<std::size_t>(stats.maxChordNotes), 0);
  failure = convertScore(*reader, output, chord, *renderer, scoreName, console);
  if (failure == Failure::none && !finishOutput(output)) failure = Failure::writeError;
  return failure;
}

Failure convertScoreFile(const std::string& scorePath, const Console& console) {
  ScoreFile score;
  Failure failure = openScore(scorePath, score);
  if (failure != Failure::none) return failure;
  std::string outputPath = makeOutputName(scorePath);
  TemporaryFile temporary;
  failure = checkOutputPath(outputPath, score);
  if (failure == Failure::none) failure = createTemporary(outputPath, temporary);
  if (failure == Failure::none) {
    failure = convertStreams(scoreSource(score), temporarySink(temporary), scorePath, console);
  }
  if (failure == Failure::none && !commitTemporary(temporary, outputPath)) {
    failure = Failure::writeError;
  }
  if (failure != Failure::none) discardTemporary(temporary);
  closeScore(score);
  return failure;
}
