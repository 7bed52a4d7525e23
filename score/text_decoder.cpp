#include "score/text_decoder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the UTF-16 decoder reads four units as one little-endian word"
#endif

namespace {

// Reads up to count bytes from the start of the file into bytes, however
// many reads that takes; count receives how many there were.
PortResult readHead(ByteSource file, unsigned char* bytes, std::size_t capacity,
                    std::size_t& count) {
  count = 0;
  while (count < capacity) {
    std::size_t part = 0;
    PortResult result = file.read(file.context, bytes + count, capacity - count, part);
    if (result != portOk) return result;
    if (part == 0) break;
    count += part;
  }
  return portOk;
}

// True for a score read as UTF-16 text.
bool isUtf16(const TextDecoder& d) {
  return d.encoding == ScoreEncoding::utf16LittleEndian ||
         d.encoding == ScoreEncoding::utf16BigEndian;
}

// Looks for a mark at the start of the file and settles the encoding.
PortResult startDecoder(TextDecoder& d) {
  d.started = true;
  std::size_t length = 0;
  PortResult result = readHead(d.file, d.head, sizeof d.head, length);
  if (result != portOk) return result;
  const unsigned char* h = d.head;
  if (length == 3 && h[0] == 0xEF && h[1] == 0xBB && h[2] == 0xBF) {
    d.encoding = ScoreEncoding::utf8Marked;
    d.skip = 3;
    return portOk;
  }
  bool little = length >= 2 && h[0] == 0xFF && h[1] == 0xFE;
  bool big = length >= 2 && h[0] == 0xFE && h[1] == 0xFF;
  if (!little && !big) {
    d.headLength = length;
    return portOk;
  }
  d.encoding = little ? ScoreEncoding::utf16LittleEndian : ScoreEncoding::utf16BigEndian;
  d.skip = 2;
  d.fileLength = length - 2;  // what the mark leaves of the head is the text's first byte
  if (d.fileLength > 0) d.fileBytes[0] = h[2];
  d.fileBufferStart = 2;
  d.charFile = 2;
  return portOk;
}

// Makes at least wanted bytes wait in fileBytes, unless the file ends first.
PortResult fillFileBytes(TextDecoder& d, std::size_t wanted) {
  if (d.fileLength - d.fileNext >= wanted || d.fileEnded) return portOk;
  std::size_t kept = d.fileLength - d.fileNext;
  std::memmove(d.fileBytes, d.fileBytes + d.fileNext, kept);
  d.fileBufferStart += static_cast<std::int64_t>(d.fileNext);
  d.fileNext = 0;
  d.fileLength = kept;
  while (d.fileLength < wanted && !d.fileEnded) {
    std::size_t count = 0;
    PortResult result = d.file.read(d.file.context, d.fileBytes + d.fileLength,
                                    TextDecoder::fileCapacity - d.fileLength, count);
    if (result != portOk) return result;
    d.fileEnded = count == 0;
    d.fileLength += count;
  }
  return portOk;
}

// Returns the UTF-16 unit at fileBytes[at].
unsigned unitAt(const TextDecoder& d, std::size_t at) {
  unsigned first = d.fileBytes[at];
  unsigned second = d.fileBytes[at + 1];
  return d.encoding == ScoreEncoding::utf16LittleEndian ? first | second << 8 : first << 8 | second;
}

// Puts the UTF-8 bytes of a code point into pending.
void encodeUtf8(TextDecoder& d, unsigned codePoint) {
  unsigned char* out = d.pending;
  if (codePoint < 0x80) {
    out[0] = static_cast<unsigned char>(codePoint);
    d.pendingLength = 1;
  } else if (codePoint < 0x800) {
    out[0] = static_cast<unsigned char>(0xC0 | codePoint >> 6);
    out[1] = static_cast<unsigned char>(0x80 | (codePoint & 0x3F));
    d.pendingLength = 2;
  } else if (codePoint < 0x10000) {
    out[0] = static_cast<unsigned char>(0xE0 | codePoint >> 12);
    out[1] = static_cast<unsigned char>(0x80 | ((codePoint >> 6) & 0x3F));
    out[2] = static_cast<unsigned char>(0x80 | (codePoint & 0x3F));
    d.pendingLength = 3;
  } else {
    out[0] = static_cast<unsigned char>(0xF0 | codePoint >> 18);
    out[1] = static_cast<unsigned char>(0x80 | ((codePoint >> 12) & 0x3F));
    out[2] = static_cast<unsigned char>(0x80 | ((codePoint >> 6) & 0x3F));
    out[3] = static_cast<unsigned char>(0x80 | (codePoint & 0x3F));
    d.pendingLength = 4;
  }
}

// Decodes the next character into pending (left empty at the end of the
// file), moving its place on past the one before.
PortResult decodeNext(TextDecoder& d) {
  d.charText += static_cast<std::int64_t>(d.pendingLength);
  d.pendingLength = 0;
  d.pendingNext = 0;
  PortResult result = fillFileBytes(d, 4);
  if (result != portOk) return result;
  d.charFile = d.fileBufferStart + static_cast<std::int64_t>(d.fileNext);
  std::size_t available = d.fileLength - d.fileNext;
  if (available == 0) return portOk;
  if (available == 1) {  // an odd last byte
    d.pending[0] = undecodableByte;
    d.pendingLength = 1;
    d.fileNext += 1;
    return portOk;
  }
  unsigned unit = unitAt(d, d.fileNext);
  d.fileNext += 2;
  ++d.unitsDecoded;
  bool high = unit >= 0xD800 && unit < 0xDC00;
  bool low = unit >= 0xDC00 && unit < 0xE000;
  if (high && available >= 4) {
    unsigned next = unitAt(d, d.fileNext);
    if (next >= 0xDC00 && next < 0xE000) {
      d.fileNext += 2;
      ++d.unitsDecoded;
      encodeUtf8(d, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
      return portOk;
    }
  }
  if (high || low) {  // a surrogate without its partner
    d.pending[0] = undecodableByte;
    d.pendingLength = 1;
    return portOk;
  }
  encodeUtf8(d, unit);
  return portOk;
}

// Copies the ASCII units that wait in fileBytes straight to out (room bytes
// at most), many at a time where the text kernel can, and returns how many:
// most of a score is ASCII, and a unit below 0x80 is its own UTF-8 byte.
// The character handed out before is settled first; on return none waits.
std::size_t takeAscii(TextDecoder& d, unsigned char* out, std::size_t room) {
  d.charText += static_cast<std::int64_t>(d.pendingLength);
  d.pendingLength = 0;
  d.pendingNext = 0;
  bool little = d.encoding == ScoreEncoding::utf16LittleEndian;
  std::size_t units = std::min(room, (d.fileLength - d.fileNext) / 2);
  std::size_t taken = asciiUnits(d.kernel, d.fileBytes + d.fileNext, units, little, out);
  d.fileNext += 2 * taken;
  std::size_t more = asciiUnits(TextKernel::scalar, d.fileBytes + d.fileNext, units - taken, little,
                                out + taken);  // the last few, four at a time
  taken += more;
  d.fileNext += 2 * more;
  while (taken < room && d.fileLength - d.fileNext >= 2 && unitAt(d, d.fileNext) < 0x80) {
    out[taken++] = static_cast<unsigned char>(unitAt(d, d.fileNext));
    d.fileNext += 2;
  }
  d.charText += static_cast<std::int64_t>(taken);
  d.charFile = d.fileBufferStart + static_cast<std::int64_t>(d.fileNext);
  d.unitsDecoded += static_cast<std::int64_t>(taken);
  return taken;
}

// Remembers the place of the character being handed out, to come back to.
void rememberPlace(TextDecoder& d) {
  int last = (d.nextPlace + TextDecoder::placeCount - 1) % TextDecoder::placeCount;
  if (d.placesUsed > 0 && d.places[last].text == d.charText) return;
  d.places[d.nextPlace] = TextDecoder::Place{d.charText, d.charFile};
  d.nextPlace = (d.nextPlace + 1) % TextDecoder::placeCount;
  if (d.placesUsed < TextDecoder::placeCount) ++d.placesUsed;
}

PortResult readUtf16(TextDecoder& d, unsigned char* buffer, std::size_t capacity,
                     std::size_t& count) {
  rememberPlace(d);
  count = 0;
  while (count < capacity) {
    if (d.pendingNext == d.pendingLength) {
      count += takeAscii(d, buffer + count, capacity - count);
      if (count == capacity) break;
      PortResult result = decodeNext(d);
      if (result != portOk) return result;
      if (d.pendingLength == 0) break;
    }
    std::size_t part = d.pendingLength - d.pendingNext;
    if (part > capacity - count) part = capacity - count;
    std::memcpy(buffer + count, d.pending + d.pendingNext, part);
    d.pendingNext += part;
    count += part;
  }
  return portOk;
}

// Returns the UTF-8 length of what a UTF-16 unit that is no half of a pair
// decodes to: 1 for a lone surrogate, which becomes undecodableByte.
std::int64_t unitTextLength(unsigned unit) {
  if (unit >= 0xD800 && unit < 0xE000) return 1;
  return unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3;
}

// Makes fileBytes hold the file's units just before the file offset end:
// about wanted bytes of them (at most a buffer, fewer where the text
// starts), so that a short step back reads little.
PortResult loadBefore(TextDecoder& d, std::int64_t end, std::int64_t wanted) {
  std::int64_t size = wanted < static_cast<std::int64_t>(TextDecoder::fileCapacity)
                          ? wanted
                          : static_cast<std::int64_t>(TextDecoder::fileCapacity);
  std::int64_t start = end - size < d.skip ? d.skip : end - size;
  start += (start - d.skip) & 1;  // units begin an even distance after the mark
  PortResult result = d.file.seek(d.file.context, start);
  if (result != portOk) return result;
  std::size_t wantedBytes = static_cast<std::size_t>(end - start);
  std::size_t got = 0;
  while (got < wantedBytes) {
    std::size_t part = 0;
    result = d.file.read(d.file.context, d.fileBytes + got, wantedBytes - got, part);
    if (result != portOk) return result;
    if (part == 0) return EIO;  // the file shrank under the reader
    got += part;
  }
  d.fileBufferStart = start;
  d.fileNext = 0;
  d.fileLength = got;
  return portOk;
}

// Walks back from the character that starts at place from to the one that
// holds the text offset target, decoding units backward, and returns its
// place in found. UTF-16 decodes as well backward as forward: a low
// surrogate after a high one is a pair, every other unit a character.
PortResult walkBack(TextDecoder& d, TextDecoder::Place from, std::int64_t target,
                    TextDecoder::Place& found) {
  std::int64_t text = from.text;
  std::int64_t file = from.file;
  if (((file - d.skip) & 1) != 0) {  // the odd last byte, one undecodable character
    --file;
    --text;
    ++d.unitsDecoded;
  }
  d.fileBufferStart = file;
  d.fileLength = 0;
  while (text > target) {
    if (file - d.fileBufferStart < 4 && d.fileBufferStart > d.skip) {
      PortResult result = loadBefore(d, file, 2 * (text - target) + 4);
      if (result != portOk) return result;
    }
    std::size_t at = static_cast<std::size_t>(file - d.fileBufferStart);
    unsigned unit = unitAt(d, at - 2);
    bool low = unit >= 0xDC00 && unit < 0xE000;
    unsigned before = at >= 4 ? unitAt(d, at - 4) : 0;
    if (low && before >= 0xD800 && before < 0xDC00) {
      file -= 4;
      text -= 4;
      d.unitsDecoded += 2;
    } else {
      file -= 2;
      text -= unitTextLength(unit);
      d.unitsDecoded += 1;
    }
  }
  found = TextDecoder::Place{text, file};
  return portOk;
}

// Starts decoding afresh at the character that begins at place.
PortResult restartAt(TextDecoder& d, TextDecoder::Place place) {
  PortResult result = d.file.seek(d.file.context, place.file);
  if (result != portOk) return result;
  d.fileNext = 0;
  d.fileLength = 0;
  d.fileBufferStart = place.file;
  d.fileEnded = false;
  d.charText = place.text;
  d.charFile = place.file;
  d.pendingLength = 0;
  return portOk;
}

// Moves to the text offset target from the nearest known place: forward
// from the nearest at or before it, or backward from the nearest after it,
// so that a seek costs about the distance gone, whatever came before.
PortResult seekUtf16(TextDecoder& d, std::int64_t target) {
  if (target < 0) return EINVAL;
  rememberPlace(d);
  TextDecoder::Place below{0, d.skip};
  TextDecoder::Place above{-1, 0};
  for (int i = 0; i < d.placesUsed; ++i) {
    const TextDecoder::Place& place = d.places[i];
    if (place.text <= target && place.text > below.text) below = place;
    if (place.text > target && (above.text < 0 || place.text < above.text)) above = place;
  }
  if (above.text >= 0 && above.text - target < target - below.text) {
    PortResult result = walkBack(d, above, target, below);
    if (result == portOk) result = restartAt(d, below);
    if (result != portOk) return result;
  } else if (below.text != d.charText) {
    PortResult result = restartAt(d, below);
    if (result != portOk) return result;
  }
  while (target >= d.charText + static_cast<std::int64_t>(d.pendingLength)) {
    std::int64_t before = d.charText + static_cast<std::int64_t>(d.pendingLength);
    PortResult result = decodeNext(d);
    if (result != portOk) return result;
    if (d.pendingLength == 0) {  // the end of the text
      d.pendingNext = 0;
      return before == target ? portOk : EINVAL;
    }
  }
  d.pendingNext = static_cast<std::size_t>(target - d.charText);
  return portOk;
}

PortResult readDecoded(void* context, unsigned char* buffer, std::size_t capacity,
                       std::size_t& count) {
  auto& d = *static_cast<TextDecoder*>(context);
  count = 0;
  if (!d.started) {
    PortResult result = startDecoder(d);
    if (result != portOk) return result;
  }
  if (isUtf16(d)) return readUtf16(d, buffer, capacity, count);
  std::size_t fromHead = d.headLength - d.headNext;
  if (fromHead > capacity) fromHead = capacity;
  std::memcpy(buffer, d.head + d.headNext, fromHead);
  d.headNext += fromHead;
  count = fromHead;
  if (count == capacity) return portOk;
  std::size_t part = 0;
  PortResult result = d.file.read(d.file.context, buffer + count, capacity - count, part);
  count += part;
  return count > 0 ? portOk : result;
}

PortResult seekDecoded(void* context, std::int64_t offset) {
  auto& d = *static_cast<TextDecoder*>(context);
  if (d.file.seek == nullptr) return ESPIPE;
  if (!d.started) {
    PortResult result = startDecoder(d);
    if (result != portOk) return result;
  }
  if (isUtf16(d)) return seekUtf16(d, offset);
  d.headNext = d.headLength;  // the head is read again from the file, if at all
  return d.file.seek(d.file.context, offset + d.skip);
}

}  // namespace

ByteSource decodedSource(TextDecoder& decoder, ByteSource file) {
  decoder = TextDecoder{};
  decoder.file = file;
  return ByteSource{&decoder, readDecoded, file.seek != nullptr ? seekDecoded : nullptr};
}
