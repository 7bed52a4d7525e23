// The little the program needs from the operating system's files, behind one
// interface so that the conversion run reads the same on every platform.
// Paths are byte strings (UTF-8 on Windows).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "driver/messages.h"
#include "score/score_reader.h"
#include "sound/output_buffer.h"

// An open score: read-only, shared with readers only.
struct ScoreFile {
  std::intptr_t handle = -1;
};

// The file being written; it becomes the output only when it is complete.
struct TemporaryFile {
  std::intptr_t handle = -1;
  std::string path;  // empty once removed or renamed
};

// Prepares the process: a write beyond the file-size limit fails with an
// error instead of killing the program, a terminating signal removes the
// temporary file, and on a console each line shows as soon as it is printed.
void prepareProcess();

// Returns the program's arguments, the program itself first, as UTF-8 byte
// strings (on Windows from the wide command line, so that any file name
// survives, whatever the console's code page).
std::vector<std::string> programArguments(int argc, char** argv);

// Opens the score for reading. Returns openRead if it is missing, unreadable
// or a folder, readError if it cannot be read twice (a pipe or device).
Failure openScore(const std::string& path, ScoreFile& score);

// Returns a source that reads the open score.
ByteSource scoreSource(ScoreFile& score);

// The platform's reading of the score (context: a ScoreFile): returns the
// bytes read, 0 at the end, -1 on an error; seeking returns false if the
// score cannot be repositioned.
std::int64_t readScoreBytes(void* context, unsigned char* buffer, std::size_t capacity);
bool seekScore(void* context, std::int64_t offset);

void closeScore(ScoreFile& score);

// Returns openWrite unless outputPath may be replaced: it does not exist, or
// it is a writable file that is not the score itself (nor a link to it).
Failure checkOutputPath(const std::string& outputPath, const ScoreFile& score);

// Creates a new temporary file in the folder of outputPath; openWrite if the
// folder refuses it.
Failure createTemporary(const std::string& outputPath, TemporaryFile& temporary);

// Returns a sink that writes to the temporary file; its finish closes it.
ByteSink temporarySink(TemporaryFile& temporary);

// The platform's writing of the temporary file (context: a TemporaryFile):
// all count bytes or false; closing the finished file, false on an error.
bool writeTemporaryBytes(void* context, const unsigned char* bytes, std::size_t count);
bool closeTemporaryFile(void* context);

// Moves the finished temporary file onto outputPath, replacing what was
// there in one step. False if the move fails.
bool commitTemporary(TemporaryFile& temporary, const std::string& outputPath);

// Closes and removes the temporary file if it is still there.
void discardTemporary(TemporaryFile& temporary);
