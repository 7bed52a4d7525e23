#include "driver/editor_offsets.h"

#include <algorithm>
#include <memory>

#include "driver/conversion.h"
#include "score/text_decoder.h"

namespace {

// A UTF-8 decoder as a browser's works, counting the UTF-16 units of what it
// makes, each CR LF or lone CR one unit; where it stands in the text.
struct UnitCount {
  std::size_t offset = 0;
  std::int64_t units = 0;
  int need = 0;              // continuation bytes the sequence begun still needs
  int seen = 0;              // continuation bytes it has
  unsigned char low = 0x80;  // the range the next continuation byte must fall in
  unsigned char high = 0xBF;
  bool cr = false;  // the last unit was a CR, whose LF adds nothing
};

// Adds a character of count units; an LF right after a CR adds none.
void emit(UnitCount& c, std::int64_t count, bool isCr, bool isLf) {
  if (!(isLf && c.cr)) c.units += count;
  c.cr = isCr;
}

// Begins the sequence of a lead byte, or emits the byte as a character.
void lead(UnitCount& c, unsigned char byte) {
  c.seen = 0;
  if (byte < 0x80) {
    emit(c, 1, byte == '\r', byte == '\n');
  } else if (byte >= 0xC2 && byte <= 0xDF) {
    c.need = 1;
  } else if (byte >= 0xE0 && byte <= 0xEF) {
    c.need = 2;
    c.low = byte == 0xE0 ? 0xA0 : 0x80;
    c.high = byte == 0xED ? 0x9F : 0xBF;
  } else if (byte >= 0xF0 && byte <= 0xF4) {
    c.need = 3;
    c.low = byte == 0xF0 ? 0x90 : 0x80;
    c.high = byte == 0xF4 ? 0x8F : 0xBF;
  } else {
    emit(c, 1, false, false);  // a byte no sequence begins with: one U+FFFD
  }
}

// The converter's text of a score, a block at a time.
struct TextStream {
  ByteSource source;
  unsigned char block[16 * 1024];
  std::size_t start = 0;  // text offset of block[0]
  std::size_t length = 0;
  bool ended = false;
};

// Returns the text's byte at offset (at or after the block's start),
// reading on as needed; -1 past the text's end.
int byteAt(TextStream& s, std::size_t offset) {
  while (offset >= s.start + s.length && !s.ended) {
    s.start += s.length;
    s.length = 0;
    if (s.source.read(s.source.context, s.block, sizeof s.block, s.length) != portOk) s.length = 0;
    s.ended = s.length == 0;
  }
  return offset < s.start + s.length ? s.block[offset - s.start] : -1;
}

// Decodes on from where c stands to the offset end (or the text's end).
void countTo(TextStream& text, UnitCount& c, std::size_t end) {
  while (c.offset < end) {
    int next = byteAt(text, c.offset);
    if (next < 0) return;
    auto byte = static_cast<unsigned char>(next);
    if (c.need == 0) {
      ++c.offset;
      lead(c, byte);
      continue;
    }
    if (byte < c.low ||
        byte > c.high) {  // the sequence so far is one U+FFFD; the byte starts afresh
      c.need = 0;
      emit(c, 1, false, false);
      continue;
    }
    ++c.offset;
    c.low = 0x80;
    c.high = 0xBF;
    if (++c.seen == c.need) {
      emit(c, c.need == 3 ? 2 : 1, false, false);  // four bytes make a surrogate pair
      c.need = 0;
    }
  }
}

// A place to look up, and where to put its index.
struct Query {
  std::size_t offset;
  std::int64_t* slot;
};

}  // namespace

void toEditorIndexes(const unsigned char* bytes, std::size_t size,
                     std::vector<std::int64_t*>& offsets) {
  std::vector<Query> queries;
  queries.reserve(offsets.size());
  for (std::int64_t* slot : offsets) {
    queries.push_back(Query{static_cast<std::size_t>(std::max<std::int64_t>(0, *slot)), slot});
  }
  std::sort(queries.begin(), queries.end(),
            [](const Query& a, const Query& b) { return a.offset < b.offset; });
  MemoryScore memory{bytes, size, 0};
  auto decoder = std::make_unique<TextDecoder>();
  auto text = std::make_unique<TextStream>();
  text->source = decodedSource(*decoder, memoryScoreSource(memory));
  UnitCount c;
  for (const Query& query : queries) {
    countTo(*text, c, query.offset);
    // A sequence cut short where the offset stands is one U+FFFD before it.
    int next = byteAt(*text, c.offset);
    bool cut = c.need > 0 && !(next >= c.low && next <= c.high);
    *query.slot = c.units + (cut ? 1 : 0);
  }
}
