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

struct FreeMemory {
  void operator()(void* memory) const { std::free(memory); }
};

// An array taken by allocateArray, freed when it goes out of scope.
template <class T>
using OwnedArray = std::unique_ptr<T[], FreeMemory>;

// Returns an array of count T (plain data), zero-filled if asked, or null
// if memory is short or the size does not fit.
template <class T>
OwnedArray<T> allocateArray(std::size_t count, bool zeroed = false) {
  if (count > SIZE_MAX / sizeof(T)) return OwnedArray<T>();
  void* memory = zeroed ? std::calloc(count == 0 ? 1 : count, sizeof(T))
                        : std::malloc(count == 0 ? sizeof(T) : count * sizeof(T));
  return OwnedArray<T>(static_cast<T*>(memory));
}
