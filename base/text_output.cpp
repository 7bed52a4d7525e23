#include "base/text_output.h"

#include <atomic>
#include <cstdint>
#include <cstring>

namespace {

PortResult appendToString(void* context, const char* bytes, std::size_t count) {
  static_cast<std::string*>(context)->append(bytes, count);
  return portOk;
}

}  // namespace

void flushText(TextOutput& out) {
  if (out.used > 0 && out.sink.write != nullptr) {
    out.handingOut = 1;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    out.sink.write(out.sink.context, out.buffer, out.used);  // a failing console is no failure
    std::atomic_signal_fence(std::memory_order_seq_cst);
    out.used = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    out.handingOut = 0;
  }
  out.used = 0;
}

void putTextInParts(TextOutput& out, const char* text, std::size_t length) {
  while (length > 0) {
    if (out.used == TextOutput::capacity) flushText(out);
    std::size_t part = TextOutput::capacity - out.used;
    if (part > length) part = length;
    std::memcpy(out.buffer + out.used, text, part);
    countWaiting(out, part);
    text += part;
    length -= part;
  }
}

void putText(TextOutput& out, const char* text) { putText(out, text, std::strlen(text)); }

void putHexEscape(TextOutput& out, unsigned char c) {
  static const char hex[] = "0123456789ABCDEF";
  putText(out, "\\x");
  putChar(out, hex[c >> 4]);
  putChar(out, hex[c & 0xF]);
}

namespace {

// True for a character a terminal shows as nothing or acts on: the C1
// controls (the Linux console takes U+009B as CSI), Unicode's
// default-ignorable characters (invisible: joiners, marks of direction,
// the soft hyphen, fillers, variation selectors, tags), its bidirectional
// controls (which reorder a line) and the line and paragraph separators.
bool isInvisible(std::uint32_t code) {
  static const std::uint32_t ranges[][2] = {
      {0x0000, 0x009F},   {0x00AD, 0x00AD},   {0x034F, 0x034F}, {0x061C, 0x061C},
      {0x115F, 0x1160},   {0x17B4, 0x17B5},   {0x180B, 0x180F}, {0x200B, 0x200F},
      {0x2028, 0x202E},   {0x2060, 0x206F},   {0x3164, 0x3164}, {0xFE00, 0xFE0F},
      {0xFEFF, 0xFEFF},   {0xFFA0, 0xFFA0},   {0xFFF0, 0xFFF8}, {0x1BCA0, 0x1BCA3},
      {0x1D173, 0x1D17A}, {0xE0000, 0xE0FFF},
  };
  for (const auto& range : ranges) {
    if (code < range[0]) return false;
    if (code <= range[1]) return true;
  }
  return false;
}

}  // namespace

std::size_t visibleUnit(const unsigned char* bytes, std::size_t length, bool terminal,
                        bool& escape) {
  unsigned char c = bytes[0];
  escape = (c < 0x20 && c != '\t') || c == 0x7F;
  if (c < 0x80 || !terminal) return 1;
  // The length of a valid UTF-8 sequence at bytes, and its code point.
  std::size_t size = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
  unsigned char low = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
  unsigned char high = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
  bool valid = size > 0 && size <= length && c <= 0xF4;
  std::uint32_t code = size == 2 ? c & 0x1Fu : size == 3 ? c & 0x0Fu : c & 0x07u;
  for (std::size_t i = 1; valid && i < size; ++i) {
    unsigned char next = bytes[i];
    valid = next >= (i == 1 ? low : 0x80) && next <= (i == 1 ? high : 0xBF);
    code = code << 6 | (next & 0x3Fu);
  }
  if (!valid) {
    escape = c <= 0x9F;  // a C1 control byte standing alone
    return 1;
  }
  escape = isInvisible(code);
  return size;
}

void putUnit(TextOutput& out, const unsigned char* bytes, std::size_t count, bool escape) {
  for (std::size_t i = 0; i < count; ++i) {
    if (escape) {
      putHexEscape(out, bytes[i]);
    } else {
      putChar(out, static_cast<char>(bytes[i]));
    }
  }
}

void putVisible(TextOutput& out, const char* text, std::size_t length) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  for (std::size_t i = 0; i < length;) {
    bool escape = false;
    std::size_t size = visibleUnit(bytes + i, length - i, out.escapeControls, escape);
    putUnit(out, bytes + i, size, escape);
    i += size;
  }
}

void putNumber(TextOutput& out, long long value) {
  char digits[24];
  std::size_t count = 0;
  unsigned long long magnitude = value < 0 ? 0ull - static_cast<unsigned long long>(value)
                                           : static_cast<unsigned long long>(value);
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude > 0);
  if (value < 0) putChar(out, '-');
  while (count > 0) putChar(out, digits[--count]);
}

TextSink stringSink(std::string& text) { return TextSink{&text, appendToString}; }
