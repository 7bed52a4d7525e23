// Console text: the chord echo, the messages and the warnings each leave in
// one write when their line ends, whatever the platform's own buffering
// would do; or, where no one watches line by line (a file, the null
// device), in blocks, as C's own streams do for files.
#pragma once

#include <atomic>
#include <csignal>
#include <cstddef>
#include <string>

#include "base/copy_bytes.h"
#include "base/ports.h"

struct TextOutput {
  static constexpr std::size_t capacity = 16 * 1024;  // bytes held before a write
  TextSink sink;
  // Text from the score is shown with its control bytes escaped (a terminal
  // would act on them: move the cursor, retitle the window, hide text).
  bool escapeControls = false;
  bool lineByLine = true;  // each line is written when it ends; else when the buffer fills
  char buffer[capacity];
  std::size_t used = 0;  // bytes waiting in buffer
  // Set while the buffer's bytes are being handed to the sink: a signal
  // handler that writes out what waits must leave them alone, or they could
  // go out twice.
  volatile std::sig_atomic_t handingOut = 0;
};

// Hands what the buffer holds to the sink.
void flushText(TextOutput& out);

// Counts count bytes just placed after the used ones as waiting. A signal
// handler may write out buffer[0, used) at any instruction: the bytes must
// be in place before the count says so, and the compiler must not swap the
// stores (a newline counted first went out as a stale byte).
inline void countWaiting(TextOutput& out, std::size_t count) {
  std::atomic_signal_fence(std::memory_order_release);
  out.used += count;
}

inline void putChar(TextOutput& out, char c) {
  if (out.used == TextOutput::capacity) flushText(out);
  out.buffer[out.used] = c;
  countWaiting(out, 1);
}

// Writes text through the buffer, a bufferful at a time.
void putTextInParts(TextOutput& out, const char* text, std::size_t length);

// Inline for text that fits: a chord's echo is often a few bytes.
inline void putText(TextOutput& out, const char* text, std::size_t length) {
  if (length > TextOutput::capacity - out.used) {
    putTextInParts(out, text, length);
    return;
  }
  copyBytes(out.buffer + out.used, text, length);
  countWaiting(out, length);
}
void putText(TextOutput& out, const char* text);
inline void putText(TextOutput& out, const std::string& text) {
  putText(out, text.data(), text.size());
}

// Writes a byte as \xNN (two upper-case hex digits).
void putHexEscape(TextOutput& out, unsigned char c);

// Returns the bytes of the character at bytes (length > 0) as a console
// shows it, and whether they must be written as \xNN: a C0 control (but
// tab) or DEL always; on a terminal (terminal true) also a C1 control, as
// a byte 0x80..0x9F outside valid UTF-8 or as U+0080..U+009F, and every
// character a terminal shows as nothing or that changes direction (the
// default-ignorable and bidirectional controls, such as U+200B, U+200E,
// U+FEFF, the tags U+E0000..U+E0FFF) and U+2028, U+2029. Other valid UTF-8
// passes as it is.
std::size_t visibleUnit(const unsigned char* bytes, std::size_t length, bool terminal,
                        bool& escape);

// Writes the count bytes of one character as they are, or each as \xNN.
void putUnit(TextOutput& out, const unsigned char* bytes, std::size_t count, bool escape);

// Writes text with each control byte a terminal acts on as \xNN (those of
// visibleUnit, on a terminal when out escapes controls).
void putVisible(TextOutput& out, const char* text, std::size_t length);

// Writes text from the score: as it is, or visible when out escapes controls.
inline void putScoreText(TextOutput& out, const char* text, std::size_t length) {
  if (out.escapeControls) {
    putVisible(out, text, length);
  } else {
    putText(out, text, length);
  }
}

// Writes a number in decimal.
void putNumber(TextOutput& out, long long value);

// Ends the line, and writes it out if out goes line by line. (Inline: it
// ends every chord's echo line.)
inline void endLine(TextOutput& out) {
  putChar(out, '\n');
  if (out.lineByLine) flushText(out);
}

// Returns a sink that appends to text.
TextSink stringSink(std::string& text);
