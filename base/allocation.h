// Memory whose size the score decides (a chord's notes, the renderer's
// tables, its cache) is taken here, from malloc rather than operator new:
// a failure then comes back to the caller as null in every front end, and
// the caller goes on a slower way or reports it. (The console program's
// new-handler, its last resort for small fixed buffers, never runs for it.)
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#if defined(__linux__)
#include <sys/mman.h>
#endif

struct FreeMemory {
  void operator()(void* memory) const { std::free(memory); }
};

// An array taken by allocateArray, freed when it goes out of scope.
template <class T>
using OwnedArray = std::unique_ptr<T[], FreeMemory>;

// Asks for large pages under a large array, where the system has them: the
// notes of a chord of millions cost a fault a page as they are first written.
inline void adviseLargePages(void* memory, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  const std::uintptr_t page = 4096;
  std::uintptr_t start = (reinterpret_cast<std::uintptr_t>(memory) + page - 1) & ~(page - 1);
  std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(memory) + bytes) & ~(page - 1);
  if (bytes >= (4u << 20) && end > start) {
    static_cast<void>(::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE));
  }
#else
  static_cast<void>(memory);
  static_cast<void>(bytes);
#endif
}

// Returns an array of count T (plain data), zero-filled if asked, or null
// if memory is short or the size does not fit.
template <class T>
OwnedArray<T> allocateArray(std::size_t count, bool zeroed = false) {
  if (count > SIZE_MAX / sizeof(T)) return OwnedArray<T>();
  void* memory = zeroed ? std::calloc(count == 0 ? 1 : count, sizeof(T))
                        : std::malloc(count == 0 ? sizeof(T) : count * sizeof(T));
  if (memory != nullptr) adviseLargePages(memory, count * sizeof(T));
  return OwnedArray<T>(static_cast<T*>(memory));
}
