#include "score/score_reader.h"

void startReader(ScoreReader& reader, ByteSource source) {
  reader.source = source;
  reader.next = 0;
  reader.length = 0;
  reader.bufferStart = 0;
  reader.heldCr = false;
  reader.ended = false;
  reader.failed = false;
  reader.error = portOk;
  reader.line = 1;
  reader.lineStart = 0;
}

bool refillReader(ScoreReader& reader) {
  reader.bufferStart += static_cast<std::int64_t>(reader.length);
  reader.next = 0;
  reader.length = 0;
  while (reader.length == 0) {
    if (reader.ended || reader.failed) return false;
    std::size_t kept = reader.heldCr ? 1 : 0;
    reader.buffer[0] = '\r';  // the held CR, when there is one
    std::size_t count = 0;
    PortResult result = reader.source.read(reader.source.context, reader.buffer + kept,
                                           ScoreReader::bufferSize - kept, count);
    if (result != portOk) {
      reader.failed = true;
      reader.error = result;
      return false;
    }
    std::size_t total = kept + count;
    reader.ended = count == 0;
    reader.heldCr = !reader.ended && reader.buffer[total - 1] == '\r';
    reader.length = total - (reader.heldCr ? 1 : 0);
  }
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
  if (reader.failed || reader.source.seek == nullptr ||
      reader.source.seek(reader.source.context, mark.offset) != portOk) {
    return false;
  }
  reader.next = 0;
  reader.length = 0;
  reader.bufferStart = mark.offset;
  reader.heldCr = false;
  reader.ended = false;
  reader.line = mark.line;
  reader.lineStart = mark.lineStart;
  return true;
}

std::int64_t readBytesAt(ScoreReader& reader, std::int64_t offset, unsigned char* bytes,
                         std::size_t count) {
  // The source stands just after the bytes the buffer holds, the held CR included.
  std::int64_t resume =
      reader.bufferStart + static_cast<std::int64_t>(reader.length) + (reader.heldCr ? 1 : 0);
  ByteSource& source = reader.source;
  if (source.seek == nullptr || source.seek(source.context, offset) != portOk) return -1;
  std::size_t got = 0;
  while (got < count) {
    std::size_t part = 0;
    if (source.read(source.context, bytes + got, count - got, part) != portOk || part == 0) break;
    got += part;
  }
  if (source.seek(source.context, resume) != portOk) return -1;
  return static_cast<std::int64_t>(got);
}
