// The ways a conversion can fail, why, and everything the program says:
// the one line on standard output for each failure, the reason after it on
// standard error, the warnings, the usage, help and version texts.
#pragma once

#include <cstdint>
#include <string>

#include "score/chord_parser.h"
#include "score/text_output.h"

enum class Failure {
  none,
  usage,        // not exactly one argument
  openRead,     // the score cannot be opened, or is a folder
  openWrite,    // the output cannot be created or would replace the score
  tooLong,      // the WAV file would exceed its 32-bit sizes
  readError,    // reading the score failed, or it changed while read
  writeError,   // writing the output failed
  outOfMemory,  // an allocation failed
};

// Why a failure happened: the subject of the line on standard error.
enum class Cause {
  none,
  system,         // the system's error code says why
  scoreIsOutput,  // the output path names the score itself
  notRegular,     // the score is a pipe or a device, which cannot be read twice
  changed,        // the score changed while it was converted
  notFinite,      // the chord length is not a finite number
  tooLarge,       // the WAV would pass the format's 2 GiB
};

// What a run, or one step of it, came to.
struct Outcome {
  Failure failure = Failure::none;
  Cause cause = Cause::none;
  int systemError = 0;    // for Cause::system: errno, or a Windows error code
  double wavBytes = 0.0;  // for Cause::tooLarge: the size the WAV would have
};

// Returns the outcome of a failure.
Outcome failed(Failure failure, Cause cause = Cause::none, int systemError = 0);

inline bool succeeded(const Outcome& outcome) { return outcome.failure == Failure::none; }

// Where the run prints: echo and failure messages on out, reasons and
// warnings on err.
struct Console {
  TextOutput* out = nullptr;
  TextOutput* err = nullptr;
};

// Returns the console message for a failure ("" for none).
const char* messageText(Failure failure);

// Returns the process exit status for the outcome: 0 for success, 1 otherwise.
int exitStatus(Failure failure);

// Prints a failed outcome: its message on out, then its reason on err,
// naming the score or the output path as the failure concerns either.
void reportOutcome(const Console& console, const Outcome& outcome, const std::string& scorePath,
                   const std::string& outputPath);

// The skipped-text warning for run, quoting quoteLength bytes of the file
// from the run's start (at most quoteLimit of them are given).
constexpr std::size_t quoteLimit = 60;
void warnSkipped(const Console& console, const std::string& scoreName, const SkippedRun& run,
                 const unsigned char* quote, std::size_t quoteLength);

// The line that follows the shown warnings when hidden runs were not shown.
void warnHidden(const Console& console, const std::string& scoreName, std::int64_t hidden);

// Warns, before the first echo, about a chord length of 0 while chords
// follow and about a negative one; header holds the first line as read.
void warnAboutHeader(const Console& console, const std::string& scoreName, double noteDuration,
                     std::int64_t chordCount, const char* header, std::size_t headerLength);

// Reports a file the run could not remove: "cannot remove "PATH": TEXT".
void warnUnremoved(const Console& console, const std::string& path, int systemError);

// The texts of --help and --version.
void printHelp(TextOutput& out);
void printVersion(TextOutput& out);

// Returns the system's text for an error code, in UTF-8.
std::string systemErrorText(int code);
