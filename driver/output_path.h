// Where the WAV file of a score goes: beside it, with the extension ".wav".
#pragma once

#include <string>

// Returns the score path with the extension of its last component replaced by
// ".wav" (or ".wav" appended when that component has no "."). Both "/" and
// "\" separate components, so a "." in a folder name is never cut.
std::string makeOutputName(const std::string& scorePath);
