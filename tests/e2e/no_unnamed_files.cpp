// Preloaded into the program by the end-to-end tests (LD_PRELOAD) to play a
// file system without unnamed files: every open with O_TMPFILE fails with
// EOPNOTSUPP, as on such a file system, so the tests can check the program's
// other way of leaving nothing behind.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>

namespace {

using OpenFunction = int (*)(const char*, int, ...);
using OpenAtFunction = int (*)(int, const char*, int, ...);

bool unnamed(int flags) { return (flags & O_TMPFILE) == O_TMPFILE; }

unsigned int modeArgument(int flags, va_list arguments) {
  return (flags & O_CREAT) != 0 || unnamed(flags) ? va_arg(arguments, unsigned int) : 0;
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
