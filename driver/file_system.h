// The little the program needs from the operating system, behind one
// interface so that the conversion run reads the same on every platform:
// the process's streams and signals, the score, the output and the console.
// Paths are byte strings (UTF-8 on Windows).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "base/ports.h"
#include "base/text_output.h"
#include "driver/outcome.h"

// The output's temporary file is named ".score2wav-", 16 hexadecimal digits
// of random bits, ".tmp", beside the output; a name taken is tried again
// with other bits, so many times.
constexpr char temporaryPrefix[] = ".score2wav-";
constexpr char temporarySuffix[] = ".tmp";
constexpr std::size_t temporaryDigits = 16;
constexpr int temporaryNameAttempts = 16;

// Returns the temporary file name of the random bits.
inline std::string temporaryFileName(std::uint64_t bits) {
  char name[sizeof temporaryPrefix + temporaryDigits + sizeof temporarySuffix];
  std::snprintf(name, sizeof name, "%s%016llx%s", temporaryPrefix,
                static_cast<unsigned long long>(bits), temporarySuffix);
  return name;
}

// An open score: read-only, shared with readers only. Closed when the record
// goes out of scope.
struct ScoreFile {
  std::intptr_t handle = -1;
  std::int64_t size = 0;      // bytes, when it was opened
  std::int64_t modified = 0;  // last write time when it was opened, in the platform's ticks
  ScoreFile() = default;
  ScoreFile(const ScoreFile&) = delete;
  ScoreFile& operator=(const ScoreFile&) = delete;
  ~ScoreFile();
};

// A file the run meant to remove and could not: reported, not fatal.
struct Unremoved {
  std::string path;
  int systemError = 0;
};

// The output while it is written: a file without a name, or with a random
// temporary one, in the output's folder. It becomes the output only when
// committed; until then, when the record goes out of scope, or the process
// ends in any way, it disappears (or, after kill -9, the next run in the
// folder removes it).
struct OutputFile {
  std::intptr_t handle = -1;
  std::intptr_t lockHandle = -1;  // holds the file's lock while the commit closes handle
  std::string path;               // the output path
  std::string temporaryPath;      // the file's temporary name, "" while it has none
  bool replaces = false;          // an output exists and will be replaced
  bool replacesLink = false;      // that output is a symbolic link: the new file is a new one
  unsigned int mode = 0;          // the new file's permission bits, given when complete
  long long owner = -1;           // that output's owner and group (-1 where unknown)
  long long group = -1;
  std::string acl;  // that output's access control list, as stored ("" for none)
  // Files the run could not remove: the first, for its name and reason, and
  // how many in all (a shared folder may hold any number of others').
  Unremoved firstUnremoved;
  long long unremovedCount = 0;
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();
};

// Prepares the process: closed standard streams are opened on the null
// device (or an empty pipe), so that no file of the run can take their
// place; a closed pipe or a file-size limit fails a write instead of ending
// the process; a closed terminal (hang-up) is ignored; every other
// terminating signal removes a named temporary file. False if a closed
// standard stream cannot be filled: the program must not run.
bool prepareProcess();

// Removes a named temporary file, if one exists; safe in any state of the
// process (for a last-resort exit).
void removeTemporaryNow();

// Returns the program's arguments, the program itself first, as UTF-8 byte
// strings (on Windows from the wide command line, so that any file name
// survives, whatever the console's code page).
std::vector<std::string> programArguments(int argc, char** argv);

// True if something (a file, a folder, a link) exists at path.
bool pathExists(const std::string& path);

// Opens the score for reading and notes its size and modification time.
// Fails with openRead if it is missing, unreadable or a folder, with
// readError if it cannot be read twice (a pipe or device).
Outcome openScore(const std::string& path, ScoreFile& score);

// Returns a source that reads the open score.
ByteSource scoreSource(ScoreFile& score);

// Fails with readError (Cause::changed) if the score's size or modification
// time is no longer what it was when it was opened.
Outcome checkScoreUnchanged(const ScoreFile& score);

// Creates the output's file in the folder of outputPath, after checking that
// outputPath may be replaced: it does not exist, or it is a writable file
// that is not the score itself (nor a link to it). Temporary files that
// dead runs left in the folder are removed first. A replaced output's
// permissions and access control list (and owner and group, where the
// process may set them) carry over to the new file. Fails with openWrite.
Outcome createOutput(const std::string& outputPath, const ScoreFile& score, OutputFile& output);

// Returns a sink that writes to the output's file.
ByteSink outputSink(OutputFile& output);

// Closes the finished file and gives it the output path, replacing what was
// there in one step. Fails with writeError.
Outcome commitOutput(OutputFile& output);

// The standard streams as console text sinks: what cannot be written (a
// closed pipe) is dropped. On Windows, text for a console is written as
// UTF-16, so that any file name shows whatever the code page.
TextSink standardOutputSink();
TextSink standardErrorSink();

// True if standard input, output or error is a terminal (a console window).
bool inputIsTerminal();
bool outputIsTerminal();
bool errorIsTerminal();

// True unless standard output is a regular file or the null device: a
// terminal, a pipe or a socket may have someone reading line by line.
bool outputIsWatched();

// True if standard output is the null device, where nothing written is
// ever seen: the chord echo need not be made at all. (Always false on
// Windows, whose character devices are not told apart safely.)
bool outputIsDiscarded();

// Makes every terminating signal write out the text out still holds and
// has not yet handed to the system, when standard output is a regular file
// or the null device, so that nothing echoed there is lost (but on kill -9)
// or written twice. Elsewhere (a terminal, a pipe) a write could block, and
// at most a partial line that waits is lost.
void flushOnSignal(TextOutput* out);

// Reads one line of at most 127 characters from standard input, leaving the
// rest unread; returns at once when input has ended.
void waitForLine();
