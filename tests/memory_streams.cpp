#include "memory_streams.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

std::int64_t readMemory(void* context, unsigned char* buffer, std::size_t capacity) {
  auto& memory = *static_cast<MemorySource*>(context);
  if (memory.failAfterReads == 0 || (memory.failAfterSeek && memory.seeked)) return -EIO;
  if (memory.failAfterReads > 0) --memory.failAfterReads;
  std::size_t count = std::min({capacity, memory.chunk, memory.bytes.size() - memory.offset});
  std::memcpy(buffer, memory.bytes.data() + memory.offset, count);
  memory.offset += count;
  return static_cast<std::int64_t>(count);
}

bool seekMemory(void* context, std::int64_t offset) {
  auto& memory = *static_cast<MemorySource*>(context);
  if (!memory.seekable || offset < 0 || static_cast<std::size_t>(offset) > memory.bytes.size()) {
    return false;
  }
  memory.offset = static_cast<std::size_t>(offset);
  memory.seeked = true;
  if (!memory.editedBytes.empty()) memory.bytes.swap(memory.editedBytes);
  memory.editedBytes.clear();
  return true;
}

int writeMemory(void* context, const unsigned char* bytes, std::size_t count) {
  auto& memory = *static_cast<MemorySink*>(context);
  if (memory.failAfterWrites == 0) return ENOSPC;
  if (memory.failAfterWrites > 0) --memory.failAfterWrites;
  memory.bytes.insert(memory.bytes.end(), bytes, bytes + count);
  return 0;
}

int finishMemory(void* context) {
  auto& memory = *static_cast<MemorySink*>(context);
  memory.finished = true;
  return memory.failFinish ? EIO : 0;
}

}  // namespace

ByteSource memorySource(MemorySource& memory) {
  ByteSource source;
  source.context = &memory;
  source.read = readMemory;
  source.seek = seekMemory;
  return source;
}

ByteSink memorySink(MemorySink& memory) {
  ByteSink sink;
  sink.context = &memory;
  sink.write = writeMemory;
  sink.finish = finishMemory;
  return sink;
}

Chord chordOf(std::vector<std::int16_t>& notes) {
  Chord chord;
  chord.notes = notes.data();
  chord.capacity = static_cast<std::int64_t>(notes.size());
  chord.noteCount = chord.capacity;
  return chord;
}
