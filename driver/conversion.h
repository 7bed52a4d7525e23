// The conversion's border with its front ends: one score in, one WAV file
// out, and what happened on the way reported as plain records, in order.
// The console program streams a file through it and prints the records
// (messages.cpp renders them); the page keeps them as data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/ports.h"
#include "driver/outcome.h"
#include "score/scanner.h"
#include "score/skip_reason.h"
#include "score/skipped_run.h"
#include "sound/wave_format.h"

// A chord, once its echo is complete.
struct ChordRecord {
  std::int64_t index = 0;        // 0 for the score's first chord
  std::int64_t firstSample = 0;  // of the WAV's sample data
  std::int64_t sampleCount = 0;
  std::int64_t offset = 0;  // file offset of its first character (its bar, when it has none)
  std::int64_t length = 0;  // bytes from there through its bar
  TextPosition position;    // line and column of that first character
  const std::int16_t* notes = nullptr;  // pitch indexes 0..47 of its notes, in score order
  std::int64_t noteCount = 0;
};

enum class WarningKind {
  zeroLength,         // the chord length reads as 0 while chords follow
  negativeLength,     // the chord length is below 0
  skipped,            // a run of chord text that holds no note
  hidden,             // the warnings beyond the first hundred, which are not shown
  barOnFirstLine,     // the first line, which only gives the chord length, holds chords
  notesAfterLastBar,  // note letters after the last bar: no chord plays them
  notesWithoutBar,    // note letters, and no bar at all to end a chord
  noPlayableNote,     // chord text, and not one note in it: the WAV is silent
  longChord,          // the chord length is over longChordSeconds
  noChord,            // not one bar ends a chord: the WAV is silent
};

// True for the warnings about a stretch of the score (the others are about
// the whole of it, and have no place).
constexpr bool hasPlace(WarningKind kind) {
  return kind != WarningKind::hidden && kind != WarningKind::noPlayableNote &&
         kind != WarningKind::noChord;
}

// A chord length beyond this many seconds is more likely a slip (300 for
// 0.3) than a wish, and is warned about.
constexpr double longChordSeconds = 10.0;

// A warning, and the stretch of the score it is about.
constexpr std::size_t quoteLimit = 60;  // bytes of the file a warning quotes at most
struct WarningRecord {
  WarningKind kind = WarningKind::skipped;
  std::int64_t offset = 0;               // file offset of its first byte
  std::int64_t length = 0;               // its bytes in the file
  TextPosition position;                 // line and column of its first byte
  const unsigned char* quote = nullptr;  // the file's bytes from offset: quoteLength of them,
  std::size_t quoteLength = 0;           // at most quoteLimit
  std::int64_t count = 0;                // hidden: the warnings not shown; notes: how many
  bool onlySkipped = false;              // hidden: every one of them a skipped run
  SkipExplanation skip;                  // skipped: why it holds no note
  bool showHint = false;                 // skipped, noPlayableNote: say how a note is written
  double chordSeconds = 0.0;             // longChord, barOnFirstLine: the length of every chord (s)
  std::int64_t wavSamples = 0;           // longChord: the samples of the whole WAV
};

// Where a conversion reports; any function may be null.
struct ConversionEvents {
  void* context = nullptr;
  // A piece of the current chord's echo: its text folded to lower case,
  // without blanks and bar, exactly as the file holds its bytes.
  void (*echo)(void* context, const char* text, std::size_t length) = nullptr;
  // The chord is complete: its echo ended, its samples known. Its skipped
  // runs follow.
  void (*chord)(void* context, const ChordRecord& chord) = nullptr;
  void (*warning)(void* context, const WarningRecord& warning) = nullptr;
};

// Sets format.dataSize to the declared data length of the score's samples,
// given the samples the renderer writes for each chord: the product of the
// duration, the byte rate and the chord count, truncated, but never more
// than the samples written and never below 0. Fails with tooLong when the
// duration is not finite or the declared data length, or the RIFF length
// (36 more), would not fit a WAV file's signed 32-bit sizes. (The file may
// hold up to one sample a chord more than it declares, and so pass 2 GiB.)
Outcome declareDataSize(const ScoreStats& stats, std::int64_t chordSamples, WaveFormat& format);

// Bytes the output collects before each write to the file: a block small
// enough to stay in the processor's cache between the samples summed into
// it and the system's copy out of it (an hour of 3-note chords took 0.4 ms
// less than with 256 KiB, the song 0.15 ms; 32 KiB cost more in writes).
constexpr std::size_t outputBlockSize = 64 * 1024;

// Converts the score read from source into a WAV file written to sink in
// blocks of blockSize bytes: pre-scan, header, then each chord echoed,
// recorded and rendered, and every warning, reported to events. Memory stays
// bounded whatever the score's text: only the notes of one chord are kept.
// Any failure stops the run; the caller discards what the sink received.
Outcome convertStreams(ByteSource source, ByteSink sink, const ConversionEvents& events,
                       std::size_t blockSize = outputBlockSize);

// The WAV bytes of a conversion in memory, taken without throwing.
struct MemoryWav {
  unsigned char* bytes = nullptr;  // malloc'd
  std::size_t size = 0;            // bytes written
  std::size_t capacity = 0;        // bytes allocated
  std::size_t limit = SIZE_MAX;    // bytes it may take; a larger WAV fails as outOfMemory
  MemoryWav() = default;
  MemoryWav(const MemoryWav&) = delete;
  MemoryWav& operator=(const MemoryWav&) = delete;
  ~MemoryWav();
};

// Score bytes held in memory, read from offset on.
struct MemoryScore {
  const unsigned char* bytes = nullptr;
  std::size_t size = 0;
  std::size_t offset = 0;
};

// Returns a source (that can seek) reading the score in memory, which must
// outlive it.
ByteSource memoryScoreSource(MemoryScore& score);

// Converts size bytes of a score named scoreName into wav, reporting to
// events; on failure wav is left empty. A score whose output path would be
// its own name is refused, as the console program refuses it.
Outcome convertBytes(const unsigned char* bytes, std::size_t size, const std::string& scoreName,
                     const ConversionEvents& events, MemoryWav& wav,
                     std::size_t blockSize = outputBlockSize);
