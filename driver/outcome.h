// What a conversion, or one step of it, came to: the failure, why, and the
// little the reason needs. Failures travel up as these records to the one
// place that prints them.
#pragma once

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
  memory,         // memory ran out (for a WAV of wavBytes, when known)
  scoreIsOutput,  // the output path names the score itself
  notRegular,     // the score is a pipe or a device, which cannot be read twice
  changed,        // the score changed while it was converted
  notFinite,      // the chord length is not a finite number
  tooLarge,       // the WAV would pass the format's 2 GiB
  isFolder,       // the score named is a folder (Windows says only "access denied")
};

struct Outcome {
  Failure failure = Failure::none;
  Cause cause = Cause::none;
  int systemError = 0;    // for Cause::system: errno, or a Windows error code
  double wavBytes = 0.0;  // for Cause::tooLarge and Cause::memory: the WAV's size (0: unknown)
};

// Returns the outcome of a failure.
inline Outcome failed(Failure failure, Cause cause = Cause::none, int systemError = 0) {
  Outcome outcome;
  outcome.failure = failure;
  outcome.cause = cause;
  outcome.systemError = systemError;
  return outcome;
}

// Returns the outcome of running out of memory.
inline Outcome outOfMemory(double wavBytes = 0.0) {
  Outcome outcome = failed(Failure::outOfMemory, Cause::memory);
  outcome.wavBytes = wavBytes;
  return outcome;
}

inline bool succeeded(const Outcome& outcome) { return outcome.failure == Failure::none; }
