#include "score/score_reader.h"

void startReader(ScoreReader& reader, ByteSource source) {
  reader.source = source;
  reader.next = 0;
  reader.length = 0;
  reader.bufferStart = 0;
  reader.ended = false;
  reader.failed = false;
  reader.error = 0;
  reader.line = 1;
  reader.lineStart = 0;
}

bool refillReader(ScoreReader& reader) {
  if (reader.ended || reader.failed) return false;
  std::int64_t count =
      reader.source.read(reader.source.context, reader.buffer, ScoreReader::bufferSize);
  reader.bufferStart += static_cast<std::int64_t>(reader.length);
  reader.next = 0;
  reader.length = 0;
  if (count < 0) {
    reader.failed = true;
    reader.error = count == -1 ? 0 : static_cast<int>(-count);
    return false;
  }
  if (count == 0) {
    reader.ended = true;
    return false;
  }
  reader.length = static_cast<std::size_t>(count);
  return true;
}

ReaderMark markReader(const ScoreReader& reader) {
  ReaderMark mark;
  mark.offset = readerOffset(reader);
  mark.line = reader.line;
  mark.lineStart = reader.lineStart;
  return mark;
}

bool returnToMark(ScoreReader& reader, const ReaderMark& mark) {
  if (reader.failed) return false;
  if (reader.source.seek == nullptr || !reader.source.seek(reader.source.context, mark.offset)) {
    return false;
  }
  reader.next = 0;
  reader.length = 0;
  reader.bufferStart = mark.offset;
  reader.ended = false;
  reader.line = mark.line;
  reader.lineStart = mark.lineStart;
  return true;
}

std::int64_t readBytesAt(ScoreReader& reader, std::int64_t offset, unsigned char* bytes,
                         std::size_t count) {
  // The source stands just after the bytes the buffer holds.
  std::int64_t resume = reader.bufferStart + static_cast<std::int64_t>(reader.length);
  if (reader.source.seek == nullptr || !reader.source.seek(reader.source.context, offset)) {
    return -1;
  }
  std::size_t got = 0;
  while (got < count) {
    std::int64_t part = reader.source.read(reader.source.context, bytes + got, count - got);
    if (part <= 0) break;
    got += static_cast<std::size_t>(part);
  }
  if (!reader.source.seek(reader.source.context, resume)) return -1;
  return static_cast<std::int64_t>(got);
}
