// A copy of a few bytes without a call: a score of short chords copies a
// chord's few samples and its echo of a few letters millions of times, and
// a call to memcpy costs more than such a copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// Copies count bytes from from to to (which do not overlap).
inline void copyBytes(void* to, const void* from, std::size_t count) {
  auto* out = static_cast<unsigned char*>(to);
  const auto* in = static_cast<const unsigned char*>(from);
  if (count > 16) {
    std::memcpy(out, in, count);
  } else if (count >= 8) {  // two words of eight, which meet or overlap
    std::uint64_t head = 0;
    std::uint64_t tail = 0;
    std::memcpy(&head, in, 8);
    std::memcpy(&tail, in + count - 8, 8);
    std::memcpy(out, &head, 8);
    std::memcpy(out + count - 8, &tail, 8);
  } else if (count >= 2) {  // two of two bytes, then the middle of up to seven
    std::uint16_t head = 0;
    std::uint16_t tail = 0;
    std::memcpy(&head, in, 2);
    std::memcpy(&tail, in + count - 2, 2);
    for (std::size_t i = 2; i + 2 < count; ++i) out[i] = in[i];
    std::memcpy(out, &head, 2);
    std::memcpy(out + count - 2, &tail, 2);
  } else if (count == 1) {
    out[0] = in[0];
  }
}
