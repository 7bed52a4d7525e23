// The command line as the program's original platform splits it.
#pragma once

#include <string>
#include <vector>

// Splits a command line at runs of spaces and tabs; a stretch between double
// quotes keeps its spaces and tabs and loses the quotes; a backslash is an
// ordinary character, so "C:\My Music\song.txt" arrives whole.
std::vector<std::string> splitCommandLine(const std::string& commandLine);
