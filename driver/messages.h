// Everything the program says, in one place: the console's text rendered
// from the conversion's records (each chord's echo line, each warning), the
// one line on standard output for each failure and its reason after it on
// standard error, and the usage, help and version texts.
#pragma once

#include <string>

#include "base/text_output.h"
#include "driver/conversion.h"
#include "driver/outcome.h"

// Where the program prints: echo and failure messages on out, reasons and
// warnings on err.
struct Console {
  TextOutput* out = nullptr;
  TextOutput* err = nullptr;
};

// What the console shows of one conversion: the context of consoleEvents.
struct ConsoleConversion {
  Console console;
  std::string scoreName;       // warnings begin with it
  bool lineOpen = false;       // a chord's echo line is begun and not yet ended
  std::int64_t chords = 0;     // chords echoed
  std::int64_t samples = 0;    // samples of sound they make
  bool echoDiscarded = false;  // out is the null device: no echo is made
  // Out is a pipe or a socket: the echo goes in blocks, but is handed on
  // before a chord long enough to render that a reader would wait for it.
  bool showProgress = false;
};

// Returns events that print a conversion as the console program shows it:
// each chord's echo as one line on out, each warning as one line on err.
ConversionEvents consoleEvents(ConsoleConversion& conversion);

// Ends the echo line of a chord that a failure cut short, if there is one.
void endOpenEcho(ConsoleConversion& conversion);

// Returns the console message for a failure ("" for none).
const char* messageText(Failure failure);

// Returns the process exit status for the outcome: 0 for success, 1 otherwise.
int exitStatus(Failure failure);

// Writes the reason for a failed outcome, the line that follows its message
// (without the line's end), naming the score or the output path as the
// failure concerns either.
void putReason(TextOutput& out, const Outcome& outcome, const std::string& scorePath,
               const std::string& outputPath);

// Prints a failed outcome: its message on out, then its reason on err.
void reportOutcome(const Console& console, const Outcome& outcome, const std::string& scorePath,
                   const std::string& outputPath);

// Writes what a warning says, the text after "NAME:LINE:COL: warning: ".
void putWarningText(TextOutput& out, const WarningRecord& warning);

// Says what a successful run wrote, for a person at a terminal: "Wrote
// PATH: N chords, M:SS of sound."
void printSummary(const ConsoleConversion& conversion, const std::string& outputPath);

// Reports, in one line, the files the run could not remove: "cannot remove
// "PATH": TEXT", with " (and N other files)" where there were more.
void warnUnremoved(const Console& console, const std::string& path, int systemError,
                   long long count);

// The texts of --help and --version.
void printHelp(TextOutput& out);
void printVersion(TextOutput& out);

// Returns the system's text for an error code, in UTF-8.
std::string systemErrorText(int code);
