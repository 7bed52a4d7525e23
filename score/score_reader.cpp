#include "score/score_reader.h"

void startReader(ScoreReader& reader, ByteSource source) {
  reader.source = source;
  reader.next = 0;
  reader.length = 0;
  reader.bufferStart = 0;
  reader.ended = false;
  reader.failed = false;
  reader.position = TextPosition{};
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
  mark.offset = reader.bufferStart + static_cast<std::int64_t>(reader.next);
  mark.position = reader.position;
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
  reader.position = mark.position;
  return true;
}
