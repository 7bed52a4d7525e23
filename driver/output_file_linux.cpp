// The output on Linux: written to a file without a name (O_TMPFILE) in the
// output's folder and linked in only when complete, or, where the file
// system has no unnamed files, to a randomly named temporary file that every
// terminating signal removes; the sweep of what killed runs left behind;
// the permissions a new or replacing output gets.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

#include "driver/file_system.h"
#include "driver/file_system_linux.h"

namespace {

// Returns the folder part of path, with its trailing "/", or "" for none.
std::string folderOf(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Returns a name for a temporary file beside path that no one can guess:
// 64 random bits, from the system, or else from the clock and process.
std::string temporaryName(const std::string& path) {
  unsigned long long bits = 0;
  if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bits)) {
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    bits = static_cast<unsigned long long>(now.tv_nsec) * 0x9E3779B97F4A7C15ull ^
           static_cast<unsigned long long>(now.tv_sec) ^
           (static_cast<unsigned long long>(::getpid()) << 40);
  }
  return folderOf(path) + temporaryFileName(bits);
}

// Gives the unnamed file behind fd the name path; false (errno set) if it
// cannot, EEXIST among the reasons.
bool linkUnnamed(int fd, const std::string& path) {
  char procPath[48];
  std::snprintf(procPath, sizeof procPath, "/proc/self/fd/%d", fd);
  if (::linkat(AT_FDCWD, procPath, AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
  if (errno != ENOENT || ::access("/proc/self/fd", F_OK) == 0) return false;
  // Without /proc, linking by descriptor takes a privilege the process may have.
  return ::linkat(fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0;
}

// True for the names this program gives its temporary files (temporaryFileName).
bool isTemporaryName(const char* name) {
  const std::size_t prefixLength = sizeof temporaryPrefix - 1;
  if (std::strncmp(name, temporaryPrefix, prefixLength) != 0) return false;
  for (std::size_t i = prefixLength; i < prefixLength + temporaryDigits; ++i) {
    if (!((name[i] >= '0' && name[i] <= '9') || (name[i] >= 'a' && name[i] <= 'f'))) return false;
  }
  return std::strcmp(name + prefixLength + temporaryDigits, temporarySuffix) == 0;
}

// Counts a file the run could not remove, keeping only the first's name.
void noteUnremoved(OutputFile& output, const std::string& path, int systemError) {
  if (output.unremovedCount++ == 0) output.firstUnremoved = Unremoved{path, systemError};
}

// Removes the temporary file name in the folder dir if no live run holds it:
// every run locks its own, so a lock that can be taken belongs to a dead run.
void removeIfDead(int dir, const char* name, const std::string& folder, OutputFile& output) {
  int fd = ::openat(dir, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;  // gone, or not ours to judge
  struct stat opened {};
  struct stat named {};
  if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
      ::fstatat(dir, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_dev == opened.st_dev &&
      named.st_ino == opened.st_ino && ::unlinkat(dir, name, 0) != 0 && errno != ENOENT) {
    noteUnremoved(output, folder + name, errno);
  }
  ::close(fd);
}

// Removes what dead runs left in the folder of the open descriptor dir.
void removeDeadTemporaries(int dir, const std::string& folder, OutputFile& output) {
  DIR* entries = ::fdopendir(::dup(dir));
  if (entries == nullptr) return;
  while (const struct dirent* entry = ::readdir(entries)) {
    if (isTemporaryName(entry->d_name)) removeIfDead(dir, entry->d_name, folder, output);
  }
  ::closedir(entries);
}

// Gives the unnamed file a random temporary name beside the output.
Outcome nameUnnamed(OutputFile& output, int fd) {
  SignalsHeld held;
  for (int attempt = 0; attempt < temporaryNameAttempts; ++attempt) {
    std::string path = temporaryName(output.path);
    if (linkUnnamed(fd, path)) {
      output.temporaryPath = path;
      rememberTemporary(path);
      return Outcome{};
    }
    if (errno != EEXIST) break;
  }
  return failed(Failure::writeError, Cause::system, errno);
}

// Creates a randomly named temporary file beside the output, for file
// systems without unnamed files; fd receives it. No one else may open it:
// it gets its final permissions only when complete.
//
// Another run may sweep the folder meanwhile and judge the file dead before
// it is locked: so it is locked at once, and kept only if its name still
// leads to it; else another name is tried.
Outcome createNamedTemporary(OutputFile& output, int& fd) {
  SignalsHeld held;
  for (int attempt = 0; attempt < temporaryNameAttempts; ++attempt) {
    std::string path = temporaryName(output.path);
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST) break;
    if (fd < 0) continue;
    int lock = ::dup(fd);
    struct stat opened {};
    struct stat named {};
    if (lock >= 0 && ::flock(lock, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &opened) == 0 &&
        ::lstat(path.c_str(), &named) == 0 && opened.st_dev == named.st_dev &&
        opened.st_ino == named.st_ino) {
      output.lockHandle = lock;
      output.temporaryPath = path;
      rememberTemporary(path);
      return Outcome{};
    }
    if (lock >= 0) ::close(lock);
    ::close(fd);
    fd = -1;
  }
  return failed(Failure::openWrite, Cause::system, errno == 0 ? EEXIST : errno);
}

// Returns the access control list stored on the open file fd ("" for none).
std::string accessControlList(int fd) {
  const char* name = "system.posix_acl_access";
  ssize_t size = ::fgetxattr(fd, name, nullptr, 0);
  if (size <= 0) return std::string();
  std::string list(static_cast<std::size_t>(size), '\0');
  size = ::fgetxattr(fd, name, &list[0], list.size());
  return size > 0 ? list.substr(0, static_cast<std::size_t>(size)) : std::string();
}

// Returns the permission bits a new file gets in a folder without a default
// access control list: 0666 less the umask.
unsigned int newFileMode() {
  mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// Notes that a symbolic link stands at the output's place: it is replaced
// by a new file that takes nothing from what it leads to, which is never
// opened for writing. A link to the score itself is still refused.
Outcome replaceLink(const std::string& outputPath, const ScoreFile& score, OutputFile& output) {
  struct stat target {};
  struct stat scoreInfo {};
  if (::stat(outputPath.c_str(), &target) == 0 && ::fstat(fdOf(score.handle), &scoreInfo) == 0 &&
      target.st_dev == scoreInfo.st_dev && target.st_ino == scoreInfo.st_ino) {
    return failed(Failure::openWrite, Cause::scoreIsOutput);
  }
  output.replaces = true;
  output.replacesLink = true;
  output.mode = newFileMode();
  return Outcome{};
}

// Fails unless outputPath may be replaced; notes what the new file keeps of
// an existing output.
Outcome checkOutputPath(const std::string& outputPath, const ScoreFile& score, OutputFile& output) {
  // Examined through the descriptor it is opened as, so that what is judged
  // is what was opened, whatever the path is switched to meanwhile. A final
  // symbolic link is never followed to be opened.
  int fd = ::open(outputPath.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  struct stat named {};
  if (fd < 0 && errno == ELOOP && ::lstat(outputPath.c_str(), &named) == 0 &&
      S_ISLNK(named.st_mode)) {
    return replaceLink(outputPath, score, output);
  }
  if (fd < 0 && errno == ENOENT) return Outcome{};
  if (fd < 0 && errno == EISDIR) return failed(Failure::openWrite, Cause::system, EISDIR);
  if (fd < 0 && errno == ENXIO) return failed(Failure::openWrite, Cause::notRegular);  // a FIFO
  if (fd < 0) return failed(Failure::openWrite, Cause::system, errno);
  struct stat existing {};
  bool examined = ::fstat(fd, &existing) == 0;
  int examineError = errno;
  std::string acl = examined ? accessControlList(fd) : std::string();
  ::close(fd);
  if (!examined) return failed(Failure::openWrite, Cause::system, examineError);
  struct stat scoreInfo {};
  if (::fstat(fdOf(score.handle), &scoreInfo) != 0) {
    return failed(Failure::openWrite, Cause::system, errno);
  }
  if (S_ISDIR(existing.st_mode)) return failed(Failure::openWrite, Cause::system, EISDIR);
  if (!S_ISREG(existing.st_mode)) return failed(Failure::openWrite, Cause::notRegular);
  if (existing.st_dev == scoreInfo.st_dev && existing.st_ino == scoreInfo.st_ino) {
    return failed(Failure::openWrite, Cause::scoreIsOutput);
  }
  // A read-only output is the user's to protect, though the folder allows a
  // rename, and even when the process could write it anyway (as root).
  if ((existing.st_mode & 0222) == 0) return failed(Failure::openWrite, Cause::system, EACCES);
  output.replaces = true;
  // The permission bits only: a sound file never gains or keeps the
  // set-user-ID, set-group-ID or sticky bit.
  output.mode = existing.st_mode & 0777;
  output.owner = existing.st_uid;
  output.group = existing.st_gid;
  output.acl = acl;
  return Outcome{};
}

// Gives the complete file its final permissions: the replaced output's owner,
// group, mode and access control list, as far as the process may (a user
// may hand a file only to a group of theirs), or a new file's mode.
void givePermissions(int fd, const OutputFile& output) {
  // An unnamed file in a link's place already has a new file's permissions.
  if (output.replacesLink && output.temporaryPath.empty()) return;
  if (output.owner >= 0 &&
      ::fchown(fd, static_cast<uid_t>(output.owner), static_cast<gid_t>(output.group)) != 0 &&
      ::fchown(fd, static_cast<uid_t>(-1), static_cast<gid_t>(output.group)) != 0) {
    // The file keeps the user's own owner and group.
  }
  // A replaced output without an access control list has none after the
  // run either: the one the folder's default list gave the new file goes,
  // so that the mode is all there is, as before.
  if (output.replaces && !output.replacesLink && output.acl.empty() &&
      ::fremovexattr(fd, "system.posix_acl_access") != 0) {
    // None to remove, or a file system without them.
  }
  // After the change of owner, which may clear the set-user-ID bit; with an
  // access control list the group bits are its mask, which the list restores.
  if (::fchmod(fd, static_cast<mode_t>(output.mode)) != 0) {
    // A file system without permissions (FAT) keeps its own.
  }
  if (!output.acl.empty() &&
      ::fsetxattr(fd, "system.posix_acl_access", output.acl.data(), output.acl.size(), 0) != 0) {
    // A file system without access control lists keeps the mode alone.
  }
}

// Removes the temporary path, now holding the replaced output; a failure
// is noted for the report.
void removeReplaced(OutputFile& output) {
  if (::unlink(output.temporaryPath.c_str()) != 0 && errno != ENOENT) {
    noteUnremoved(output, output.temporaryPath, errno);
  }
  forgetTemporary();
  output.temporaryPath.clear();
}

// Moves the finished, named temporary file onto the output path. Until the
// temporary name is gone, a terminating signal removes it: before the swap
// it holds the new file, after it the old one.
Outcome replaceOutput(OutputFile& output) {
#if defined(RENAME_EXCHANGE)
  // Swapping the two names replaces the output in one step, as a rename
  // would, without making the file system flush the new file's data first
  // (ext4 does that for a rename over an existing file, which slows the
  // runs that follow). The old output, now at the temporary path, goes.
  if (output.replaces && ::renameat2(AT_FDCWD, output.temporaryPath.c_str(), AT_FDCWD,
                                     output.path.c_str(), RENAME_EXCHANGE) == 0) {
    removeReplaced(output);
    return Outcome{};
  }
#endif
  if (::rename(output.temporaryPath.c_str(), output.path.c_str()) != 0) {
    return failed(Failure::writeError, Cause::system, errno);
  }
  forgetTemporary();
  output.temporaryPath.clear();
  return Outcome{};
}

// Writes all count bytes to the output's file.
PortResult writeOutputBytes(void* context, const unsigned char* bytes, std::size_t count) {
  return writeAll(fdOf(static_cast<OutputFile*>(context)->handle), bytes, count, ENOSPC);
}

// Takes the disk space for the whole output at once, where the file system
// can: cheaper than a block at a time as the writes come, and a full disk
// fails before a sample is made.
PortResult reserveOutputBytes(void* context, std::int64_t totalBytes) {
#if defined(__linux__)
  int fd = fdOf(static_cast<OutputFile*>(context)->handle);
  if (totalBytes <= 0 || ::fallocate(fd, 0, 0, static_cast<off_t>(totalBytes)) == 0) return portOk;
  return errno == EOPNOTSUPP || errno == ENOSYS ? portOk : errno;
#else
  static_cast<void>(context);     // (posix_fallocate would write zeros where the
  static_cast<void>(totalBytes);  // file system cannot reserve: no faster)
  return portOk;
#endif
}

}  // namespace

OutputFile::~OutputFile() {
  if (handle >= 0) ::close(fdOf(handle));
  if (!temporaryPath.empty()) {
    ::unlink(temporaryPath.c_str());
    forgetTemporary();
  }
  if (lockHandle >= 0) ::close(fdOf(lockHandle));
}

Outcome createOutput(const std::string& outputPath, const ScoreFile& score, OutputFile& output) {
  output.path = outputPath;
  Outcome outcome = checkOutputPath(outputPath, score, output);
  if (!succeeded(outcome)) return outcome;
  std::string folder = folderOf(outputPath);
  // The sweep never waits: when another holds the folder's lock (another
  // run sweeping, or anyone at all), this run leaves the sweep to later.
  int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0 && ::flock(dir, LOCK_EX | LOCK_NB) == 0) removeDeadTemporaries(dir, folder, output);
  // An unnamed file cannot be opened by anyone else: it takes a new file's
  // permissions from the folder as it is made; a replacement's come later.
  mode_t mode = output.replaces && !output.replacesLink ? 0600 : 0666;
  int fd = ::open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
  // A kernel or file system without unnamed files says EISDIR or EOPNOTSUPP.
  if (fd < 0 && errno != EISDIR && errno != EOPNOTSUPP && errno != EINVAL) {
    outcome = failed(Failure::openWrite, Cause::system, errno);
  } else if (fd < 0) {
    outcome = createNamedTemporary(output, fd);
    if (!output.replaces) output.mode = newFileMode();
  }
  if (fd >= 0) {
    output.handle = fd;
    if (output.lockHandle < 0) {  // an unnamed file: no one can judge it before it is locked
      output.lockHandle = ::dup(fd);
      if (output.lockHandle >= 0) ::flock(fdOf(output.lockHandle), LOCK_EX | LOCK_NB);
    }
  }
  if (dir >= 0) ::close(dir);
  return outcome;
}

ByteSink outputSink(OutputFile& output) {
  return ByteSink{&output, writeOutputBytes, reserveOutputBytes};
}

Outcome commitOutput(OutputFile& output) {
  int fd = fdOf(output.handle);
  bool named = !output.temporaryPath.empty();
  if (named || output.replaces) givePermissions(fd, output);
  if (!named && !output.replaces) {
    // A new output: the unnamed file takes its name in one step.
    if (linkUnnamed(fd, output.path)) {
      output.handle = -1;
      if (::close(fd) == 0) return Outcome{};
      int error = errno;
      ::unlink(output.path.c_str());
      return failed(Failure::writeError, Cause::system, error);
    }
    if (errno != EEXIST) return failed(Failure::writeError, Cause::system, errno);
    output.replaces = true;  // another run made it meanwhile
  }
  if (output.temporaryPath.empty()) {
    Outcome outcome = nameUnnamed(output, fd);
    if (!succeeded(outcome)) return outcome;
  }
  output.handle = -1;
  if (::close(fd) != 0) return failed(Failure::writeError, Cause::system, errno);
  return replaceOutput(output);
}
