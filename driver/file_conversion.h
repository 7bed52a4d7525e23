// The conversion run of the console program: the score file named on the
// command line in, the WAV file beside it out.
#pragma once

#include <string>

#include "driver/messages.h"

// Converts the score at scorePath into the WAV file makeOutputName gives,
// echoing and warning on the console. On success the output is whole; on
// failure an existing output is untouched and nothing is left behind.
Outcome convertScoreFile(const std::string& scorePath, ConsoleConversion& console);
