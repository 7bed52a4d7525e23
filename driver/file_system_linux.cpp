// The file-system layer on Linux: the process (closed standard streams,
// signals that remove a temporary file and write out the echo), the score,
// the console and the closing wait. The output, written to a file without
// a name (O_TMPFILE) that is linked into the folder only when complete, is
// output_file_linux.cpp's.
#include "driver/file_system_linux.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

#include "driver/file_system.h"

namespace {

// The named temporary file a terminating signal must remove; kept in plain
// storage so that a signal handler may read it.
char pendingTemporary[PATH_MAX];
volatile sig_atomic_t temporaryPending = 0;

// Standard output's text, to be written out when a signal ends the process,
// where a write cannot block (a regular file or the null device): a pipe
// nobody reads must not keep a signalled run alive.
TextOutput* volatile textOnSignal = nullptr;

// Writes out standard output's pending text (none that is being handed to
// write already), removes the pending temporary file, then ends the process
// by the signal. It never waits.
void removeTemporaryAndEnd(int signalNumber) {
  TextOutput* text = textOnSignal;
  if (text != nullptr && !text->handingOut && text->used <= TextOutput::capacity) {
    ssize_t written = ::write(1, text->buffer, text->used);
    static_cast<void>(written);  // nothing more can be done about a failure here
  }
  if (temporaryPending) ::unlink(pendingTemporary);
  ::signal(signalNumber, SIG_DFL);
  ::raise(signalNumber);
}

}  // namespace

void rememberTemporary(const std::string& path) {
  temporaryPending = 0;
  if (path.size() >= sizeof pendingTemporary) return;
  path.copy(pendingTemporary, path.size());
  pendingTemporary[path.size()] = '\0';
  temporaryPending = 1;
}

void forgetTemporary() { temporaryPending = 0; }

SignalsHeld::SignalsHeld() {
  sigset_t all;
  sigfillset(&all);
  sigprocmask(SIG_BLOCK, &all, &previous);
}

SignalsHeld::~SignalsHeld() { sigprocmask(SIG_SETMASK, &previous, nullptr); }

namespace {

// Catches signalNumber with removeTemporaryAndEnd unless something already
// handles or ignores it (a sanitizer's handler, or nohup's ignored hang-up).
void catchIfDefault(int signalNumber) {
  struct sigaction current {};
  if (::sigaction(signalNumber, nullptr, &current) != 0) return;
  if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL) return;
  struct sigaction action {};
  action.sa_handler = removeTemporaryAndEnd;
  sigemptyset(&action.sa_mask);
  ::sigaction(signalNumber, &action, nullptr);
}

// The signals whose default action ends the process and that can be caught
// (SIGHUP, SIGPIPE and SIGXFSZ are ignored instead; SIGKILL cannot be caught).
constexpr int terminatingSignals[] = {
    SIGINT,    SIGQUIT, SIGILL,  SIGTRAP, SIGABRT, SIGBUS,    SIGFPE,  SIGUSR1,
    SIGSEGV,   SIGUSR2, SIGALRM, SIGTERM, SIGXCPU, SIGVTALRM, SIGPROF, SIGSYS,
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGPOLL
    SIGPOLL,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
};

// Fills the closed standard descriptor fd (the lowest free one) with the
// null device; false if there is none (an empty /dev) or it is no device.
bool fillWithNullDevice(int fd) {
  if (::open("/dev/null", O_RDWR) != fd) return false;
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISCHR(info.st_mode)) return true;
  ::close(fd);
  return false;
}

// Fills the closed standard descriptor fd (the lowest free one) with an end
// of a pipe whose other end is closed: reading it ends at once, writing it
// fails. False if the process can make no pipe.
bool fillWithEmptyPipe(int fd) {
  int ends[2];
  if (::pipe(ends) != 0) return false;  // ends[0] is fd, ends[1] the next free one
  int wanted = fd == 0 ? ends[0] : ends[1];
  int other = fd == 0 ? ends[1] : ends[0];
  if (wanted != fd && ::dup2(wanted, fd) != fd) return false;
  if (wanted != fd) ::close(wanted);
  if (other != fd) ::close(other);
  return true;
}

// Opens any of the standard descriptors that is closed: otherwise the next
// file opened would take its number, and console text would go into it.
// False if one cannot be filled.
bool openClosedStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    if (!fillWithNullDevice(fd) && !fillWithEmptyPipe(fd)) return false;
  }
  return true;
}

// The modification time of a file in nanoseconds.
std::int64_t modifiedTime(const struct stat& info) {
  return static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}

}  // namespace

PortResult writeAll(int fd, const void* data, std::size_t count, PortResult noRoom) {
  const char* bytes = static_cast<const char*>(data);
  while (count > 0) {
    ssize_t written = ::write(fd, bytes, count);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return written < 0 ? errno : noRoom;
    bytes += written;
    count -= static_cast<std::size_t>(written);
  }
  return portOk;
}

namespace {

// Writes count bytes to a console descriptor.
PortResult writeToDescriptor(void* context, const char* bytes, std::size_t count) {
  return writeAll(static_cast<int>(reinterpret_cast<std::intptr_t>(context)), bytes, count, EIO);
}

// Returns a console text sink for a standard descriptor.
TextSink descriptorSink(int fd) {
  return TextSink{reinterpret_cast<void*>(static_cast<std::intptr_t>(fd)), writeToDescriptor};
}

// Reads up to capacity bytes of the score.
PortResult readScoreBytes(void* context, unsigned char* buffer, std::size_t capacity,
                          std::size_t& count) {
  int fd = fdOf(static_cast<ScoreFile*>(context)->handle);
  for (;;) {
    ssize_t got = ::read(fd, buffer, capacity);
    if (got >= 0) {
      count = static_cast<std::size_t>(got);
      return portOk;
    }
    if (errno != EINTR) return errno;
  }
}

// Moves the score to an absolute offset.
PortResult seekScore(void* context, std::int64_t offset) {
  int fd = fdOf(static_cast<ScoreFile*>(context)->handle);
  off_t reached = ::lseek(fd, static_cast<off_t>(offset), SEEK_SET);
  if (reached == static_cast<off_t>(offset)) return portOk;
  return reached < 0 ? errno : EINVAL;
}

}  // namespace

ScoreFile::~ScoreFile() {
  if (handle >= 0) ::close(fdOf(handle));
}

bool prepareProcess() {
  if (!openClosedStandardStreams()) return false;
  ::signal(SIGPIPE, SIG_IGN);
  ::signal(SIGXFSZ, SIG_IGN);
  ::signal(SIGHUP, SIG_IGN);  // a closed terminal ends neither the conversion nor its wait
  for (int signalNumber : terminatingSignals) catchIfDefault(signalNumber);
  for (int signalNumber = SIGRTMIN; signalNumber <= SIGRTMAX; ++signalNumber) {
    catchIfDefault(signalNumber);
  }
  return true;
}

void removeTemporaryNow() {
  if (temporaryPending) ::unlink(pendingTemporary);
  temporaryPending = 0;
}

std::vector<std::string> programArguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

bool pathExists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

Outcome openScore(const std::string& path, ScoreFile& score) {
  // Non-blocking, so that a pipe without a writer cannot hold the open.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return failed(Failure::openRead, Cause::system, errno);
  score.handle = fd;
  struct stat info {};
  if (::fstat(fd, &info) != 0) return failed(Failure::openRead, Cause::system, errno);
  if (S_ISDIR(info.st_mode)) return failed(Failure::openRead, Cause::system, EISDIR);
  if (!S_ISREG(info.st_mode)) return failed(Failure::readError, Cause::notRegular);
  if (::fcntl(fd, F_SETFL, 0) != 0) return failed(Failure::openRead, Cause::system, errno);
  score.size = info.st_size;
  score.modified = modifiedTime(info);
  return Outcome{};
}

ByteSource scoreSource(ScoreFile& score) { return ByteSource{&score, readScoreBytes, seekScore}; }

Outcome checkScoreUnchanged(const ScoreFile& score) {
  struct stat info {};
  if (::fstat(fdOf(score.handle), &info) != 0) {
    return failed(Failure::readError, Cause::system, errno);
  }
  if (info.st_size != score.size || modifiedTime(info) != score.modified) {
    return failed(Failure::readError, Cause::changed);
  }
  return Outcome{};
}

TextSink standardOutputSink() { return descriptorSink(1); }
TextSink standardErrorSink() { return descriptorSink(2); }

bool inputIsTerminal() { return ::isatty(0) == 1; }
bool outputIsTerminal() { return ::isatty(1) == 1; }
bool errorIsTerminal() { return ::isatty(2) == 1; }

namespace {

// True if the file is the null device.
bool isNullDevice(const struct stat& file) {
  struct stat null {};
  return S_ISCHR(file.st_mode) && ::stat("/dev/null", &null) == 0 && S_ISCHR(null.st_mode) &&
         file.st_rdev == null.st_rdev;
}

}  // namespace

bool outputIsWatched() {
  struct stat output {};
  if (::fstat(1, &output) != 0) return true;
  return !S_ISREG(output.st_mode) && !isNullDevice(output);
}

bool outputIsDiscarded() {
  struct stat output {};
  return ::fstat(1, &output) == 0 && isNullDevice(output);
}

void flushOnSignal(TextOutput* out) { textOnSignal = outputIsWatched() ? nullptr : out; }

void waitForLine() {
  const int longestLine = 127;  // characters; the rest of a longer line stays unread
  int count = 0;
  while (count < longestLine) {
    char c = 0;
    ssize_t got = ::read(0, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0 || c == '\n') return;
    ++count;
  }
}
