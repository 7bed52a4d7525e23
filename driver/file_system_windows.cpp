// The file-system layer on Windows: wide-character paths (converted from and
// to UTF-8), the score shared with readers only, the output written to a
// randomly named temporary file that the system deletes when its handle
// closes, whatever ends the process, until it is complete.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#define NOGDI        // wingdi.h declares a function named Chord
#define _CRT_RAND_S  // rand_s: random numbers from the system
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

#include <algorithm>
#include <cwchar>

#include "driver/command_line.h"
#include "driver/file_system.h"
#include "driver/messages.h"

namespace {

constexpr DWORD largestTransfer = 1u << 30;  // bytes one ReadFile or WriteFile moves
// Another conversion of the same score may hold the output for a moment (its
// check below, or its replace); a program that keeps it open holds it longer.
constexpr int sharingRetries = 40;
constexpr DWORD sharingRetryPause = 25;  // milliseconds

// Returns the UTF-16 form of UTF-8 text (an invalid byte becomes U+FFFD).
std::wstring widen(const char* utf8, std::size_t size) {
  if (size == 0) return std::wstring();
  int length = MultiByteToWideChar(CP_UTF8, 0, utf8, static_cast<int>(size), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8, static_cast<int>(size), &wide[0], length);
  return wide;
}

std::wstring widen(const std::string& utf8) { return widen(utf8.data(), utf8.size()); }

// Returns the wide path to hand to the file calls: a long one is made
// absolute and given the "\\?\" prefix, which lifts the 260-character limit.
std::wstring systemPath(const std::string& utf8) {
  const std::size_t shortPathLimit = 240;  // room under MAX_PATH for a file name
  std::wstring wide = widen(utf8);
  if (wide.size() < shortPathLimit) return wide;
  DWORD length = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (length == 0) return wide;
  std::wstring full(length, L'\0');
  length = GetFullPathNameW(wide.c_str(), length, &full[0], nullptr);
  full.resize(length);
  if (full.compare(0, 4, L"\\\\?\\") == 0) return full;
  if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

// Returns the UTF-8 form of length UTF-16 units.
std::string narrow(const wchar_t* wide, int length) {
  if (length <= 0) return std::string();
  int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, length, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, length, &utf8[0], bytes, nullptr, nullptr);
  return utf8;
}

// Returns the UTF-8 form of a NUL-terminated UTF-16 string.
std::string narrow(const wchar_t* wide) {
  return narrow(wide, static_cast<int>(std::wcslen(wide)));
}

// The handle a ScoreFile or OutputFile holds.
HANDLE handleOf(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// Sets whether the system deletes the file when its handle closes; the
// temporary file carries it until it is complete, so that a run that dies
// in any way leaves nothing behind.
bool setDeleteOnClose(HANDLE file, bool deleteIt) {
  FILE_DISPOSITION_INFO disposition;
  disposition.DeleteFile = deleteIt ? TRUE : FALSE;
  return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) !=
         0;
}

// Opens path for writing without sharing, waiting a little while another
// program holds it; INVALID_HANDLE_VALUE if it stays held or cannot be opened.
HANDLE openExclusively(const std::wstring& path) {
  for (int attempt = 0;; ++attempt) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION ||
        attempt == sharingRetries) {
      return file;
    }
    Sleep(sharingRetryPause);
  }
}

// True if path names the file behind the open handle (the same file through
// another name or a link).
bool isSameFile(const std::wstring& path, HANDLE open) {
  HANDLE other =
      CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (other == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION a;
  BY_HANDLE_FILE_INFORMATION b;
  bool same = GetFileInformationByHandle(open, &a) && GetFileInformationByHandle(other, &b) &&
              a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
              a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
  CloseHandle(other);
  return same;
}

// Returns the folder part of path, with its trailing separator, or "".
std::string folderOf(const std::string& path) {
  std::size_t separator = path.find_last_of("/\\");
  return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

// The last error as a port's answer (never 0: that means success).
PortResult lastError() {
  DWORD error = GetLastError();
  return error == 0 ? ERROR_GEN_FAILURE : static_cast<PortResult>(error);
}

// Returns a name for a temporary file beside path that no one can guess.
std::string temporaryName(const std::string& path) {
  unsigned int high = 0;
  unsigned int low = 0;
  if (rand_s(&high) != 0 || rand_s(&low) != 0) {
    high = GetCurrentProcessId();
    low = GetTickCount() ^ static_cast<unsigned int>(reinterpret_cast<std::uintptr_t>(&path));
  }
  return folderOf(path) + temporaryFileName(static_cast<std::uint64_t>(high) << 32 | low);
}

// The size and last write time of an open file, for telling a change.
bool fileStamp(HANDLE file, std::int64_t& size, std::int64_t& modified) {
  LARGE_INTEGER bytes;
  FILETIME written;
  if (!GetFileSizeEx(file, &bytes) || !GetFileTime(file, nullptr, nullptr, &written)) return false;
  size = bytes.QuadPart;
  modified = static_cast<std::int64_t>((static_cast<std::uint64_t>(written.dwHighDateTime) << 32) |
                                       written.dwLowDateTime);
  return true;
}

// Fails unless outputPath may be replaced.
Outcome checkOutputPath(const std::wstring& wide, const ScoreFile& score, OutputFile& output) {
  DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND
               ? Outcome{}
               : failed(Failure::openWrite, Cause::system, static_cast<int>(error));
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    return failed(Failure::openWrite, Cause::system, ERROR_ACCESS_DENIED);
  }
  if (isSameFile(wide, handleOf(score.handle))) {
    return failed(Failure::openWrite, Cause::scoreIsOutput);
  }
  // Opening it for writing without sharing fails for a file another program
  // holds, and for a read-only one.
  HANDLE file = openExclusively(wide);
  if (file == INVALID_HANDLE_VALUE) return failed(Failure::openWrite, Cause::system, lastError());
  CloseHandle(file);
  output.replaces = true;
  return Outcome{};
}

// Reads up to capacity bytes of the score.
PortResult readScoreBytes(void* context, unsigned char* buffer, std::size_t capacity,
                          std::size_t& count) {
  HANDLE file = handleOf(static_cast<ScoreFile*>(context)->handle);
  DWORD got = 0;
  DWORD want = static_cast<DWORD>(std::min<std::size_t>(capacity, largestTransfer));
  if (!ReadFile(file, buffer, want, &got, nullptr)) return lastError();
  count = got;
  return portOk;
}

// Moves the score to an absolute offset.
PortResult seekScore(void* context, std::int64_t offset) {
  LARGE_INTEGER position;
  position.QuadPart = offset;
  if (SetFilePointerEx(handleOf(static_cast<ScoreFile*>(context)->handle), position, nullptr,
                       FILE_BEGIN)) {
    return portOk;
  }
  return lastError();
}

// Writes all count bytes to a file or pipe; nothing written at all counts
// as noRoom.
PortResult writeAll(HANDLE file, const void* data, std::size_t count, PortResult noRoom) {
  const char* bytes = static_cast<const char*>(data);
  while (count > 0) {
    DWORD written = 0;
    DWORD part = static_cast<DWORD>(std::min<std::size_t>(count, largestTransfer));
    if (!WriteFile(file, bytes, part, &written, nullptr)) return lastError();
    if (written == 0) return noRoom;
    bytes += written;
    count -= written;
  }
  return portOk;
}

// Writes all count bytes to the output's file.
PortResult writeOutputBytes(void* context, const unsigned char* bytes, std::size_t count) {
  return writeAll(handleOf(static_cast<OutputFile*>(context)->handle), bytes, count,
                  ERROR_DISK_FULL);
}

// Writes console text to a standard handle: UTF-16 for a console, whatever
// its code page, the bytes themselves for a pipe or a file. What cannot be
// written is dropped.
PortResult writeStandardText(void* context, const char* bytes, std::size_t count) {
  HANDLE handle = GetStdHandle(static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(context)));
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return ERROR_INVALID_HANDLE;
  DWORD mode = 0;
  if (count > 0 && GetConsoleMode(handle, &mode)) {
    std::wstring wide = widen(bytes, count);
    DWORD written = 0;
    for (std::size_t done = 0; done < wide.size(); done += written) {
      DWORD part = static_cast<DWORD>(std::min<std::size_t>(wide.size() - done, 8192));
      if (!WriteConsoleW(handle, wide.data() + done, part, &written, nullptr)) return lastError();
      if (written == 0) return ERROR_WRITE_FAULT;
    }
    return portOk;
  }
  return writeAll(handle, bytes, count, ERROR_WRITE_FAULT);
}

// Returns a console text sink for a standard handle (STD_OUTPUT_HANDLE ...).
TextSink standardSink(DWORD which) {
  return TextSink{reinterpret_cast<void*>(static_cast<std::uintptr_t>(which)), writeStandardText};
}

}  // namespace

ScoreFile::~ScoreFile() {
  if (handle != -1) CloseHandle(handleOf(handle));
}

OutputFile::~OutputFile() {
  if (handle != -1) CloseHandle(handleOf(handle));  // deleted on close while unfinished
  if (!temporaryPath.empty()) DeleteFileW(systemPath(temporaryPath).c_str());
}

// The system deletes an unfinished output by itself; signals need nothing.
bool prepareProcess() { return true; }

void removeTemporaryNow() {}

std::vector<std::string> programArguments(int, char**) {
  return splitCommandLine(narrow(GetCommandLineW()));
}

bool pathExists(const std::string& path) {
  return GetFileAttributesW(systemPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

Outcome openScore(const std::string& path, ScoreFile& score) {
  // A folder fails here: opening one needs FILE_FLAG_BACKUP_SEMANTICS. No
  // write sharing: nobody may change the score while it is converted.
  HANDLE file =
      CreateFileW(systemPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    PortResult error = lastError();
    DWORD attributes = GetFileAttributesW(systemPath(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      return failed(Failure::openRead, Cause::isFolder);
    }
    return failed(Failure::openRead, Cause::system, error);
  }
  score.handle = reinterpret_cast<std::intptr_t>(file);
  if (GetFileType(file) != FILE_TYPE_DISK) return failed(Failure::readError, Cause::notRegular);
  if (!fileStamp(file, score.size, score.modified)) {
    return failed(Failure::openRead, Cause::system, lastError());
  }
  return Outcome{};
}

ByteSource scoreSource(ScoreFile& score) { return ByteSource{&score, readScoreBytes, seekScore}; }

Outcome checkScoreUnchanged(const ScoreFile& score) {
  std::int64_t size = 0;
  std::int64_t modified = 0;
  if (!fileStamp(handleOf(score.handle), size, modified)) {
    return failed(Failure::readError, Cause::system, lastError());
  }
  if (size != score.size || modified != score.modified) {
    return failed(Failure::readError, Cause::changed);
  }
  return Outcome{};
}

Outcome createOutput(const std::string& outputPath, const ScoreFile& score, OutputFile& output) {
  output.path = outputPath;
  Outcome outcome = checkOutputPath(systemPath(outputPath), score, output);
  if (!succeeded(outcome)) return outcome;
  for (int attempt = 0; attempt < temporaryNameAttempts; ++attempt) {
    std::string path = temporaryName(outputPath);
    HANDLE file = CreateFileW(systemPath(path).c_str(), GENERIC_WRITE | DELETE, 0, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      setDeleteOnClose(file, true);
      output.handle = reinterpret_cast<std::intptr_t>(file);
      output.temporaryPath = path;
      return Outcome{};
    }
    if (GetLastError() != ERROR_FILE_EXISTS) break;
  }
  return failed(Failure::openWrite, Cause::system, lastError());
}

ByteSink outputSink(OutputFile& output) { return ByteSink{&output, writeOutputBytes, nullptr}; }

Outcome commitOutput(OutputFile& output) {
  HANDLE file = handleOf(output.handle);
  output.handle = -1;
  bool kept = setDeleteOnClose(file, false);
  int keepError = kept ? 0 : lastError();
  if (!CloseHandle(file)) return failed(Failure::writeError, Cause::system, lastError());
  if (!kept) return failed(Failure::writeError, Cause::system, keepError);
  std::wstring from = systemPath(output.temporaryPath);
  std::wstring to = systemPath(output.path);
  for (int attempt = 0; !MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING);
       ++attempt) {
    DWORD error = GetLastError();
    bool held = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
    if (!held || attempt == sharingRetries) {
      return failed(Failure::writeError, Cause::system, static_cast<int>(error));
    }
    Sleep(sharingRetryPause);
  }
  output.temporaryPath.clear();
  return Outcome{};
}

TextSink standardOutputSink() { return standardSink(STD_OUTPUT_HANDLE); }
TextSink standardErrorSink() { return standardSink(STD_ERROR_HANDLE); }

bool inputIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

bool outputIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

bool errorIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

bool outputIsWatched() { return GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) != FILE_TYPE_DISK; }

bool outputIsDiscarded() { return false; }

// The system ends the process without signals to catch.
void flushOnSignal(TextOutput*) {}

void waitForLine() {
  char line[128];  // one line of at most 127 characters; the rest stays unread
  static_cast<void>(std::fgets(line, sizeof line, stdin));
}

std::string systemErrorText(int code) {
  wchar_t* text = nullptr;
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  while (length > 0 && (text[length - 1] == L'\n' || text[length - 1] == L'\r' ||
                        text[length - 1] == L'.' || text[length - 1] == L' ')) {
    --length;  // the system's text ends in ".\r\n"; the line supplies its own end
  }
  std::string utf8 = narrow(text, static_cast<int>(length));
  if (text != nullptr) LocalFree(text);
  return utf8.empty() ? "error " + std::to_string(code) : utf8;
}
