// Scores as editors save them. A UTF-8 byte order mark (EF BB BF) at the
// start is no part of the score; a score that starts with a UTF-16 mark
// (FF FE little-endian, FE FF big-endian) is read as the same text in UTF-8.
// The decoder stands between the file and the reader as a source of its
// own, so that both passes, the echo, the warnings' places and their quotes
// are all about the text the score holds, not the bytes of its encoding.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/ports.h"
#include "score/text_kernel.h"

enum class ScoreEncoding {
  plain,       // 8-bit text, read byte for byte
  utf8Marked,  // 8-bit text after a UTF-8 mark
  utf16LittleEndian,
  utf16BigEndian,
};

// What a UTF-16 unit that cannot be decoded (an unpaired surrogate, an odd
// last byte) becomes: one byte that valid UTF-8 never holds, so that it is
// skipped as no note and warned about.
constexpr unsigned char undecodableByte = 0xFF;

struct TextDecoder {
  ByteSource file;
  ScoreEncoding encoding = ScoreEncoding::plain;
  TextKernel kernel = chosenTextKernel();  // takes runs of ASCII units
  bool started = false;                    // the mark has been looked for
  std::int64_t skip = 0;                   // file bytes of the mark

  // Plain and UTF-8: the bytes read while looking for a mark, handed out first.
  unsigned char head[3] = {0, 0, 0};
  std::size_t headLength = 0;
  std::size_t headNext = 0;

  // UTF-16: file bytes waiting to be decoded, and where they stand.
  static constexpr std::size_t fileCapacity = 16 * 1024;
  unsigned char fileBytes[fileCapacity];
  std::size_t fileNext = 0;
  std::size_t fileLength = 0;
  std::int64_t fileBufferStart = 0;  // file offset of fileBytes[0]
  bool fileEnded = false;
  // The UTF-8 bytes of the character being handed out, and its place.
  unsigned char pending[4] = {0, 0, 0, 0};
  std::size_t pendingLength = 0;
  std::size_t pendingNext = 0;
  std::int64_t charText = 0;  // text offset of the character's first byte
  std::int64_t charFile = 0;  // file offset of its first unit
  // Places recently read from, so that going back to quote a warning or to
  // start the second pass decodes little again. Fixed in number: memory
  // stays the same whatever the score's length. A seek starts from the
  // nearest of them, decoding forward from one before it or backward from
  // one after it, so it costs about the distance to that place.
  struct Place {
    std::int64_t text = 0;
    std::int64_t file = 0;
  };
  static constexpr int placeCount = 16;
  Place places[placeCount];
  int placesUsed = 0;
  int nextPlace = 0;
  std::int64_t unitsDecoded = 0;  // UTF-16 units decoded, either way: a seek's cost
};

// Returns a source that reads the text of the score in file through decoder,
// which must outlive it. Offsets are offsets into that text.
ByteSource decodedSource(TextDecoder& decoder, ByteSource file);
