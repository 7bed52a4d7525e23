// Reads a score as bytes, folding each CR LF pair to one LF itself so that
// every platform reads the same characters (a lone CR stays, Ctrl-Z is a byte).
#pragma once

#include <cstddef>
#include <cstdint>

// Where the score's bytes come from: a file, or memory.
struct ByteSource {
  void* context = nullptr;
  // Returns the number of bytes read, 0 at the end, or minus the system's
  // error code (-1 when there is none) on a read error.
  std::int64_t (*read)(void* context, unsigned char* buffer, std::size_t capacity) = nullptr;
  // Moves to an absolute byte offset; false if the source cannot.
  bool (*seek)(void* context, std::int64_t offset) = nullptr;
};

// A place in the score file: 1-based line and byte column (a folded CR LF is
// one character, at the end of its line).
struct TextPosition {
  std::int64_t line = 1;
  std::int64_t column = 1;
};

// The reader's state at a character boundary, enough to come back to it.
struct ReaderMark {
  std::int64_t offset = 0;     // bytes of the file before the next character
  std::int64_t line = 1;       // line of the next character
  std::int64_t lineStart = 0;  // file offset of that line's first byte
};

struct ScoreReader {
  static constexpr std::size_t bufferSize = 64 * 1024;
  ByteSource source;
  unsigned char buffer[bufferSize];
  std::size_t next = 0;          // index of the next unread byte in buffer
  std::size_t length = 0;        // bytes held in buffer
  std::int64_t bufferStart = 0;  // file offset of buffer[0]
  bool ended = false;            // the source reported its end
  bool failed = false;           // the source reported a read error
  int error = 0;                 // the system's code for that error, 0 if unknown
  // The line of the next character and the file offset where that line
  // starts: a character's column is its offset from there, plus one, since
  // a CR LF pair (the one character of two bytes) can only end a line.
  std::int64_t line = 1;
  std::int64_t lineStart = 0;
};

// Prepares a reader at the start of the source.
void startReader(ScoreReader& reader, ByteSource source);

// Refills the buffer; false at the end of the score or on a read error
// (then reader.failed is set). Used by nextChar when the buffer is empty.
bool refillReader(ScoreReader& reader);

// Returns the next character (0..255) with CR LF folded to LF, or -1 at the
// end of the score or after a read error (reader.failed tells which).
inline int nextChar(ScoreReader& reader) {
  if (reader.next == reader.length && !refillReader(reader)) return -1;
  unsigned char c = reader.buffer[reader.next++];
  if (c == '\r') {
    // The LF of a pair may lie in the next block.
    if (reader.next == reader.length && !refillReader(reader)) {
      if (reader.failed) return -1;
    } else if (reader.buffer[reader.next] == '\n') {
      ++reader.next;
      c = '\n';
    }
  }
  if (c == '\n') {
    ++reader.line;
    reader.lineStart = reader.bufferStart + static_cast<std::int64_t>(reader.next);
  }
  return c;
}

// Returns the file offset of the next character.
inline std::int64_t readerOffset(const ScoreReader& reader) {
  return reader.bufferStart + static_cast<std::int64_t>(reader.next);
}

// Returns the place of the next character.
inline TextPosition readerPosition(const ScoreReader& reader) {
  return TextPosition{reader.line, readerOffset(reader) - reader.lineStart + 1};
}

// Returns where the next character will be read from.
ReaderMark markReader(const ScoreReader& reader);

// Moves the reader back to a mark taken earlier; false if the source cannot
// be repositioned (a pipe) or fails.
bool returnToMark(ScoreReader& reader, const ReaderMark& mark);

// Reads up to count raw bytes (no folding) from the file offset into bytes,
// then puts the source back where the reader left it, so that reading goes on
// undisturbed. Returns the bytes read, or -1 if the source failed.
std::int64_t readBytesAt(ScoreReader& reader, std::int64_t offset, unsigned char* bytes,
                         std::size_t count);
