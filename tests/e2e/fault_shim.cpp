// Preloaded into the program by the end-to-end tests (LD_PRELOAD) to play
// faults the real system will not produce on demand:
//   SCORE2WAV_SHIM_NO_TMPFILE=1    every open with O_TMPFILE fails with
//                                  EOPNOTSUPP, as on a file system without
//                                  unnamed files;
//   SCORE2WAV_SHIM_KILL=CALL:WHEN  the process kills itself (SIGKILL, as
//                                  kill -9 would) at its first call of CALL
//                                  (linkat, renameat2, rename or unlink),
//                                  WHEN "before" or "after" the call;
//   SCORE2WAV_SHIM_FAIL=CALL       that call fails with EPERM instead.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

namespace {

using OpenFunction = int (*)(const char*, int, ...);
using OpenAtFunction = int (*)(int, const char*, int, ...);

bool unnamed(int flags) {
  const char* setting = getenv("SCORE2WAV_SHIM_NO_TMPFILE");
  return (flags & O_TMPFILE) == O_TMPFILE && setting != nullptr && strcmp(setting, "1") == 0;
}

unsigned int modeArgument(int flags, va_list arguments) {
  return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE
             ? va_arg(arguments, unsigned int)
             : 0;
}

int forward(const char* name, const char* path, int flags, unsigned int mode) {
  if (unnamed(flags)) {
    errno = EOPNOTSUPP;
    return -1;
  }
  auto real = reinterpret_cast<OpenFunction>(dlsym(RTLD_NEXT, name));
  return real(path, flags, mode);
}

int forwardAt(const char* name, int folder, const char* path, int flags, unsigned int mode) {
  if (unnamed(flags)) {
    errno = EOPNOTSUPP;
    return -1;
  }
  auto real = reinterpret_cast<OpenAtFunction>(dlsym(RTLD_NEXT, name));
  return real(folder, path, flags, mode);
}

// Kills the process if the setting names this call at this moment.
void killAt(const char* call, const char* when) {
  const char* setting = getenv("SCORE2WAV_SHIM_KILL");
  if (setting == nullptr) return;
  size_t length = strlen(call);
  if (strncmp(setting, call, length) == 0 && setting[length] == ':' &&
      strcmp(setting + length + 1, when) == 0) {
    raise(SIGKILL);
  }
}

// True if the setting makes this call fail.
bool failsAt(const char* call) {
  const char* setting = getenv("SCORE2WAV_SHIM_FAIL");
  return setting != nullptr && strcmp(setting, call) == 0;
}

}  // namespace

#define SCORE2WAV_OPEN(name)                              \
  extern "C" int name(const char* path, int flags, ...) { \
    va_list arguments;                                    \
    va_start(arguments, flags);                           \
    unsigned int mode = modeArgument(flags, arguments);   \
    va_end(arguments);                                    \
    return forward(#name, path, flags, mode);             \
  }
#define SCORE2WAV_OPENAT(name)                                        \
  extern "C" int name(int folder, const char* path, int flags, ...) { \
    va_list arguments;                                                \
    va_start(arguments, flags);                                       \
    unsigned int mode = modeArgument(flags, arguments);               \
    va_end(arguments);                                                \
    return forwardAt(#name, folder, path, flags, mode);               \
  }

SCORE2WAV_OPEN(open)
SCORE2WAV_OPEN(open64)
SCORE2WAV_OPENAT(openat)
SCORE2WAV_OPENAT(openat64)

// A call the commit makes, with a kill before or after it, or a failure.
#define SCORE2WAV_KILL_POINT(result, name, parameters, arguments)                \
  extern "C" result name parameters {                                            \
    killAt(#name, "before");                                                     \
    if (failsAt(#name)) {                                                        \
      errno = EPERM;                                                             \
      return -1;                                                                 \
    }                                                                            \
    auto real = reinterpret_cast<result(*) parameters>(dlsym(RTLD_NEXT, #name)); \
    result value = real arguments;                                               \
    killAt(#name, "after");                                                      \
    return value;                                                                \
  }

SCORE2WAV_KILL_POINT(int, linkat, (int a, const char* b, int c, const char* d, int e),
                     (a, b, c, d, e))
SCORE2WAV_KILL_POINT(int, renameat2, (int a, const char* b, int c, const char* d, unsigned int e),
                     (a, b, c, d, e))
SCORE2WAV_KILL_POINT(int, rename, (const char* a, const char* b), (a, b))
SCORE2WAV_KILL_POINT(int, unlink, (const char* a), (a))
