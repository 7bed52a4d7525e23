// Reads a score as bytes, a block at a time, for both passes. The cursor
// that walks a block is the one place where a CR LF pair folds to one LF (a
// lone CR stays, Ctrl-Z is a byte) and where lines are counted, so that
// every platform and both passes read the same characters at the same places.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/ports.h"
#include "score/skipped_run.h"
#include "score/text_kernel.h"

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
  std::size_t next = 0;  // index of the next unread byte in buffer
  // Bytes of buffer to walk. A CR that ends what was read is held back to
  // open the next block, so that a block never ends between a CR and its LF
  // (unless the score ends there).
  std::size_t length = 0;
  std::int64_t bufferStart = 0;  // file offset of buffer[0]
  bool heldCr = false;           // the CR after buffer[length - 1] waits for the next block
  bool fastPaths = true;         // the passes may take plain stretches many bytes at a time
  TextKernel kernel = chosenTextKernel();  // the kernel whose steps they take
  bool ended = false;                      // the source reported its end
  bool failed = false;                     // the source reported a read error
  PortResult error = portOk;               // the source's answer to the failed read
  // The line of the next character and the file offset where that line
  // starts: a character's column is its offset from there, plus one, since
  // a CR LF pair (the one character of two bytes) can only end a line.
  std::int64_t line = 1;
  std::int64_t lineStart = 0;
};

// Prepares a reader at the start of the source.
void startReader(ScoreReader& reader, ByteSource source);

// Makes the next block the reader's; false at the end of the score or on a
// read error (then reader.failed is set). Call when reader.next == reader.length.
bool refillReader(ScoreReader& reader);

// A walk over the reader's block: the next character is bytes[next] (up to
// end), at file offset base + next, on the given line.
struct ScoreCursor {
  const unsigned char* bytes;
  std::size_t next;
  std::size_t end;
  std::int64_t base;
  std::int64_t line;
  std::int64_t lineStart;
};

// Returns a cursor at the reader's next character.
inline ScoreCursor cursorOf(const ScoreReader& reader) {
  return ScoreCursor{reader.buffer,      reader.next, reader.length,
                     reader.bufferStart, reader.line, reader.lineStart};
}

// Moves the reader to where the cursor stands.
inline void keepCursor(ScoreReader& reader, const ScoreCursor& cursor) {
  reader.next = cursor.next;
  reader.line = cursor.line;
  reader.lineStart = cursor.lineStart;
}

// Returns the file offset of the cursor's next character.
inline std::int64_t cursorOffset(const ScoreCursor& cursor) {
  return cursor.base + static_cast<std::int64_t>(cursor.next);
}

// Takes the cursor's next character (next < end): a CR LF pair is one LF,
// and an LF ends a line.
inline unsigned char takeChar(ScoreCursor& cursor) {
  unsigned char c = cursor.bytes[cursor.next++];
  if (c == '\r' && cursor.next < cursor.end && cursor.bytes[cursor.next] == '\n') {
    ++cursor.next;
    c = '\n';
  }
  if (c == '\n') {
    ++cursor.line;
    cursor.lineStart = cursorOffset(cursor);
  }
  return c;
}

// Returns the next character (0..255), or -1 at the end of the score or
// after a read error (reader.failed tells which).
inline int nextChar(ScoreReader& reader) {
  if (reader.next == reader.length && !refillReader(reader)) return -1;
  ScoreCursor cursor = cursorOf(reader);
  unsigned char c = takeChar(cursor);
  keepCursor(reader, cursor);
  return c;
}

// Returns the file offset of the next character.
inline std::int64_t readerOffset(const ScoreReader& reader) {
  return reader.bufferStart + static_cast<std::int64_t>(reader.next);
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
