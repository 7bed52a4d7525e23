// Console text, a line at a time: the chord echo, the messages and the
// warnings each leave in one write when their line ends, whatever the
// platform's own buffering would do.
#pragma once

#include <cstddef>
#include <string>

// Where console text goes: a standard stream, or a string. A console that
// fails (a closed pipe) must not stop a conversion, so write has no result.
struct TextSink {
  void* context = nullptr;
  void (*write)(void* context, const char* bytes, std::size_t count) = nullptr;
};

struct TextOutput {
  static constexpr std::size_t capacity = 16 * 1024;  // bytes held before a write
  TextSink sink;
  char buffer[capacity];
  std::size_t used = 0;  // bytes waiting in buffer
};

// Hands what the buffer holds to the sink.
void flushText(TextOutput& out);

inline void putChar(TextOutput& out, char c) {
  if (out.used == TextOutput::capacity) flushText(out);
  out.buffer[out.used++] = c;
}

void putText(TextOutput& out, const char* text, std::size_t length);
void putText(TextOutput& out, const char* text);
inline void putText(TextOutput& out, const std::string& text) {
  putText(out, text.data(), text.size());
}

// Writes a number in decimal.
void putNumber(TextOutput& out, long long value);

// Ends the line and writes it out.
void endLine(TextOutput& out);

// Returns a sink that appends to text.
TextSink stringSink(std::string& text);
