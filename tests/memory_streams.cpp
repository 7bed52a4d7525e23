#include "memory_streams.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

PortResult readMemory(void* context, unsigned char* buffer, std::size_t capacity,
                      std::size_t& count) {
  auto& memory = *static_cast<MemorySource*>(context);
  if (memory.failAfterReads == 0 || (memory.failAfterSeek && memory.seeked)) return EIO;
  if (memory.failAfterReads > 0) --memory.failAfterReads;
  count = std::min({capacity, memory.chunk, memory.bytes.size() - memory.offset});
  std::memcpy(buffer, memory.bytes.data() + memory.offset, count);
  memory.offset += count;
  return portOk;
}

PortResult seekMemory(void* context, std::int64_t offset) {
  auto& memory = *static_cast<MemorySource*>(context);
  if (!memory.seekable) return ESPIPE;
  if (offset < 0 || static_cast<std::size_t>(offset) > memory.bytes.size()) return EINVAL;
  memory.offset = static_cast<std::size_t>(offset);
  memory.seeked = true;
  if (!memory.editedBytes.empty()) memory.bytes.swap(memory.editedBytes);
  memory.editedBytes.clear();
  return portOk;
}

PortResult writeMemory(void* context, const unsigned char* bytes, std::size_t count) {
  auto& memory = *static_cast<MemorySink*>(context);
  if (memory.failAfterWrites == 0) return ENOSPC;
  if (memory.failAfterWrites > 0) --memory.failAfterWrites;
  memory.bytes.insert(memory.bytes.end(), bytes, bytes + count);
  return portOk;
}

}  // namespace

ByteSource memorySource(MemorySource& memory) {
  return ByteSource{&memory, readMemory, seekMemory};
}

ByteSink memorySink(MemorySink& memory) { return ByteSink{&memory, writeMemory, nullptr}; }

Chord chordOf(std::vector<std::int16_t>& notes) {
  Chord chord;
  chord.notes = notes.data();
  chord.capacity = static_cast<std::int64_t>(notes.size());
  chord.noteCount = chord.capacity;
  return chord;
}
