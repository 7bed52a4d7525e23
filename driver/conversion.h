// The conversion run: one score in, one WAV file beside it out.
#pragma once

#include <cstdio>
#include <string>

#include "driver/messages.h"
#include "score/chord.h"
#include "score/scanner.h"
#include "score/score_reader.h"
#include "sound/output_buffer.h"
#include "sound/renderer.h"
#include "sound/wave_format.h"

// Where the run prints: chord echoes on out, warnings about skipped chord
// text on err. Failure messages are printed by the caller.
struct Console {
  std::FILE* out = stdout;
  std::FILE* err = stderr;
};

// Sets format.dataSize to the declared data length of the score's samples,
// given the samples the renderer writes for each chord. Returns tooLong when
// the duration is not finite or the sizes would not fit a WAV file's 32-bit
// fields; a negative length is declared as 0.
Failure declareDataSize(const ScoreStats& stats, std::int64_t chordSamples, WaveFormat& format);

// The second pass: reads every chord after reader's position, echoes it,
// warns about text that holds no note, and renders it to output.
Failure convertScore(ScoreReader& reader, OutputBuffer& output, Chord& chord, Renderer& renderer,
                     const std::string& scoreName, const Console& console);

// Bytes the output collects before each write to the file.
constexpr std::size_t outputBlockSize = 256 * 1024;

// Converts the score read from source into a WAV file written to sink in
// blocks of blockSize bytes: pre-scan, header, second pass, and finally the
// sink's finish. Any failure stops the run; the caller discards what the
// sink received.
Failure convertStreams(ByteSource source, ByteSink sink, const std::string& scoreName,
                       const Console& console, std::size_t blockSize = outputBlockSize);

// Converts the score at scorePath into the WAV file makeOutputName gives. On
// success the output is whole; on failure an existing output is untouched
// and nothing is left behind.
Failure convertScoreFile(const std::string& scorePath, const Console& console);
