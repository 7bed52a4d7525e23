// The ways a conversion can fail, and the one line the user sees for each.
#pragma once

enum class Failure {
  none,
  usage,       // not exactly one argument
  openRead,    // the score cannot be opened, or is a folder
  openWrite,   // the output cannot be created or would replace the score
  tooLong,     // the WAV file would exceed its 32-bit sizes
  readError,   // reading the score failed
  writeError,  // writing the output failed
};

// Returns the console message for a failure ("" for none).
const char* messageText(Failure failure);

// Returns the process exit status for the outcome: 0 for success, 1 otherwise.
int exitStatus(Failure failure);
