#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "driver/file_system.h"

namespace {

// The temporary file a terminating signal (Ctrl-C, a closed terminal) must
// remove; kept in plain storage so that the handler may read it.
char pendingTemporary[PATH_MAX];
volatile sig_atomic_t temporaryPending = 0;

// Removes the pending temporary file, then ends the process by the signal.
void removeTemporaryAndEnd(int signalNumber) {
  if (temporaryPending) ::unlink(pendingTemporary);
  ::signal(signalNumber, SIG_DFL);
  ::raise(signalNumber);
}

// Makes path the file a terminating signal removes, when it fits the storage.
void rememberTemporary(const std::string& path) {
  if (path.size() >= sizeof pendingTemporary) return;
  path.copy(pendingTemporary, path.size());
  pendingTemporary[path.size()] = '\0';
  temporaryPending = 1;
}

// The descriptor a ScoreFile or TemporaryFile holds.
int fdOf(std::intptr_t handle) { return static_cast<int>(handle); }

// Returns the folder part of path, with its trailing "/", or "" for none.
std::string folderOf(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

// Reads up to capacity bytes of the score; the count, 0 at its end, -1 on error.
std::int64_t readScoreBytes(void* context, unsigned char* buffer, std::size_t capacity) {
  int fd = fdOf(static_cast<ScoreFile*>(context)->handle);
  for (;;) {
    ssize_t count = ::read(fd, buffer, capacity);
    if (count >= 0) return count;
    if (errno != EINTR) return -1;
  }
}

// Moves the score to an absolute offset; false if it cannot (a pipe).
bool seekScore(void* context, std::int64_t offset) {
  int fd = fdOf(static_cast<ScoreFile*>(context)->handle);
  return ::lseek(fd, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}

// Writes all count bytes to the temporary file; false on any error.
bool writeTemporaryBytes(void* context, const unsigned char* bytes, std::size_t count) {
  int fd = fdOf(static_cast<TemporaryFile*>(context)->handle);
  while (count > 0) {
    ssize_t written = ::write(fd, bytes, count);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes += written;
    count -= static_cast<std::size_t>(written);
  }
  return true;
}

// Closes the finished temporary file; false if the close reports an error.
bool closeTemporaryFile(void* context) {
  auto& temporary = *static_cast<TemporaryFile*>(context);
  int fd = fdOf(temporary.handle);
  temporary.handle = -1;
  return ::close(fd) == 0;
}

void prepareProcess() {
  ::signal(SIGXFSZ, SIG_IGN);
  for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction action {};
    action.sa_handler = removeTemporaryAndEnd;
    sigemptyset(&action.sa_mask);
    ::sigaction(signalNumber, &action, nullptr);
  }
}

std::vector<std::string> programArguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

Failure openScore(const std::string& path, ScoreFile& score) {
  // Non-blocking, so that a pipe without a writer cannot hold the open.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return Failure::openRead;
  struct stat info {};
  Failure failure = Failure::none;
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    failure = Failure::openRead;
  } else if (!S_ISREG(info.st_mode)) {
    failure = Failure::readError;  // the second pass must read it again
  } else if (::fcntl(fd, F_SETFL, 0) != 0) {
    failure = Failure::openRead;
  }
  if (failure != Failure::none) {
    ::close(fd);
    return failure;
  }
  score.handle = fd;
  return Failure::none;
}

void closeScore(ScoreFile& score) {
  if (score.handle >= 0) ::close(fdOf(score.handle));
  score.handle = -1;
}

Failure checkOutputPath(const std::string& outputPath, const ScoreFile& score) {
  struct stat existing {};
  if (::stat(outputPath.c_str(), &existing) != 0) {
    return errno == ENOENT ? Failure::none : Failure::openWrite;
  }
  struct stat scoreInfo {};
  if (::fstat(fdOf(score.handle), &scoreInfo) != 0) return Failure::openWrite;
  if (!S_ISREG(existing.st_mode)) return Failure::openWrite;
  if (existing.st_dev == scoreInfo.st_dev && existing.st_ino == scoreInfo.st_ino) {
    return Failure::openWrite;  // the output would be the score itself
  }
  // A read-only output is the user's to protect, though the folder allows a rename.
  int fd = ::open(outputPath.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return Failure::openWrite;
  ::close(fd);
  return Failure::none;
}

Failure createTemporary(const std::string& outputPath, TemporaryFile& temporary) {
  std::string stem = folderOf(outputPath) + ".score2wav-" + std::to_string(::getpid()) + "-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string path = stem + std::to_string(attempt) + ".tmp";
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      temporary.handle = fd;
      temporary.path = path;
      rememberTemporary(path);
      return Failure::none;
    }
    if (errno != EEXIST) break;
  }
  return Failure::openWrite;
}

bool commitTemporary(TemporaryFile& temporary, const std::string& outputPath) {
  if (temporary.handle >= 0) return false;  // not finished
#if defined(RENAME_EXCHANGE)
  // Swapping the two names replaces the output in one step, as a rename
  // would, without making the file system flush the new file's data first
  // (ext4 does that for a rename over an existing file), which would take
  // longer than writing it. The old output, now at the temporary path, goes.
  if (::renameat2(AT_FDCWD, temporary.path.c_str(), AT_FDCWD, outputPath.c_str(),
                  RENAME_EXCHANGE) == 0) {
    ::unlink(temporary.path.c_str());
    temporaryPending = 0;
    temporary.path.clear();
    return true;
  }
#endif
  if (::rename(temporary.path.c_str(), outputPath.c_str()) != 0) return false;
  temporaryPending = 0;
  temporary.path.clear();
  return true;
}

void discardTemporary(TemporaryFile& temporary) {
  if (temporary.handle >= 0) ::close(fdOf(temporary.handle));
  temporary.handle = -1;
  temporaryPending = 0;
  if (!temporary.path.empty()) ::unlink(temporary.path.c_str());
  temporary.path.clear();
}
