#include "score/text_output.h"

#include <atomic>
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

void putText(TextOutput& out, const char* text, std::size_t length) {
  while (length > 0) {
    if (out.used == TextOutput::capacity) flushText(out);
    std::size_t part = TextOutput::capacity - out.used;
    if (part > length) part = length;
    std::memcpy(out.buffer + out.used, text, part);
    out.used += part;
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

void putVisible(TextOutput& out, const char* text, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if ((c < 0x20 && c != '\t') || c == 0x7F) {
      putHexEscape(out, c);
    } else {
      putChar(out, text[i]);
    }
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

void endLine(TextOutput& out) {
  putChar(out, '\n');
  if (out.lineByLine) flushText(out);
}

TextSink stringSink(std::string& text) { return TextSink{&text, appendToString}; }
