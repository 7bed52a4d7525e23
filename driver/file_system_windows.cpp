// The file-system layer on Windows: wide-character paths (converted from and
// to UTF-8), the score shared with readers only, the output without sharing.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <windows.h>

#include <algorithm>

#include "driver/command_line.h"
#include "driver/file_system.h"

namespace {

constexpr DWORD largestTransfer = 1u << 30;  // bytes one ReadFile or WriteFile moves
// Another conversion of the same score may hold the output for a moment (its
// check below, or its replace); a program that keeps it open holds it longer.
constexpr int sharingRetries = 40;
constexpr DWORD sharingRetryPause = 25;  // milliseconds

// Returns the UTF-16 form of a UTF-8 path, for the wide-character calls.
std::wstring widen(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  int length =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], length);
  return wide;
}

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

// Returns the UTF-8 form of a UTF-16 string.
std::string narrow(const wchar_t* wide) {
  int length = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) return std::string();
  std::string utf8(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, &utf8[0], length, nullptr, nullptr);
  utf8.resize(static_cast<std::size_t>(length - 1));
  return utf8;
}

// The handle a ScoreFile or TemporaryFile holds.
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

}  // namespace

// Reads up to capacity bytes of the score; the count, 0 at its end, -1 on error.
std::int64_t readScoreBytes(void* context, unsigned char* buffer, std::size_t capacity) {
  HANDLE file = handleOf(static_cast<ScoreFile*>(context)->handle);
  DWORD got = 0;
  DWORD want = static_cast<DWORD>(std::min<std::size_t>(capacity, largestTransfer));
  if (!ReadFile(file, buffer, want, &got, nullptr)) return -1;
  return got;
}

// Moves the score to an absolute offset; false if it cannot.
bool seekScore(void* context, std::int64_t offset) {
  LARGE_INTEGER position;
  position.QuadPart = offset;
  return SetFilePointerEx(handleOf(static_cast<ScoreFile*>(context)->handle), position, nullptr,
                          FILE_BEGIN) != 0;
}

// Writes all count bytes to the temporary file; false on any error.
bool writeTemporaryBytes(void* context, const unsigned char* bytes, std::size_t count) {
  HANDLE file = handleOf(static_cast<TemporaryFile*>(context)->handle);
  while (count > 0) {
    DWORD written = 0;
    DWORD part = static_cast<DWORD>(std::min<std::size_t>(count, largestTransfer));
    if (!WriteFile(file, bytes, part, &written, nullptr) || written == 0) return false;
    bytes += written;
    count -= written;
  }
  return true;
}

// Keeps the finished temporary file and closes it; false if either fails.
bool closeTemporaryFile(void* context) {
  auto& temporary = *static_cast<TemporaryFile*>(context);
  HANDLE file = handleOf(temporary.handle);
  temporary.handle = -1;
  bool kept = setDeleteOnClose(file, false);
  bool closed = CloseHandle(file) != 0;
  return kept && closed;
}

void prepareProcess() {
  // The C library buffers a console fully; each echo line should show at once.
  if (_isatty(_fileno(stdout))) setvbuf(stdout, nullptr, _IONBF, 0);
}

std::vector<std::string> programArguments(int, char**) {
  return splitCommandLine(narrow(GetCommandLineW()));
}

Failure openScore(const std::string& path, ScoreFile& score) {
  // A folder fails here: opening one needs FILE_FLAG_BACKUP_SEMANTICS.
  HANDLE file =
      CreateFileW(systemPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Failure::openRead;
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return Failure::readError;  // a pipe or device cannot be read twice
  }
  score.handle = reinterpret_cast<std::intptr_t>(file);
  return Failure::none;
}

void closeScore(ScoreFile& score) {
  if (score.handle != -1) CloseHandle(handleOf(score.handle));
  score.handle = -1;
}

Failure checkOutputPath(const std::string& outputPath, const ScoreFile& score) {
  std::wstring wide = systemPath(outputPath);
  DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? Failure::none : Failure::openWrite;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return Failure::openWrite;
  if (isSameFile(wide, handleOf(score.handle))) return Failure::openWrite;
  // Opening it for writing without sharing fails for a file another program
  // holds, and for a read-only one.
  HANDLE file = openExclusively(wide);
  if (file == INVALID_HANDLE_VALUE) return Failure::openWrite;
  CloseHandle(file);
  return Failure::none;
}

Failure createTemporary(const std::string& outputPath, TemporaryFile& temporary) {
  std::string stem =
      folderOf(outputPath) + ".score2wav-" + std::to_string(GetCurrentProcessId()) + "-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string path = stem + std::to_string(attempt) + ".tmp";
    HANDLE file = CreateFileW(systemPath(path).c_str(), GENERIC_WRITE | DELETE, 0, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      setDeleteOnClose(file, true);
      temporary.handle = reinterpret_cast<std::intptr_t>(file);
      temporary.path = path;
      return Failure::none;
    }
    if (GetLastError() != ERROR_FILE_EXISTS) break;
  }
  return Failure::openWrite;
}

bool commitTemporary(TemporaryFile& temporary, const std::string& outputPath) {
  if (temporary.handle != -1) return false;  // not finished
  std::wstring from = systemPath(temporary.path);
  std::wstring to = systemPath(outputPath);
  for (int attempt = 0; !MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING);
       ++attempt) {
    DWORD error = GetLastError();
    bool held = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
    if (!held || attempt == sharingRetries) return false;
    Sleep(sharingRetryPause);
  }
  temporary.path.clear();
  return true;
}

void discardTemporary(TemporaryFile& temporary) {
  if (temporary.handle != -1) CloseHandle(handleOf(temporary.handle));  // deleted on close
  temporary.handle = -1;
  if (!temporary.path.empty()) DeleteFileW(systemPath(temporary.path).c_str());
  temporary.path.clear();
}
