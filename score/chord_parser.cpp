#include "score/chord_parser.h"

namespace chordParsing {

void passRunOn(const SkippedRunSink& runs, const SkippedRun& run) {
  if (runs.add != nullptr) runs.add(runs.context, run);
}

}  // namespace chordParsing

void startChord(ChordParser& parser) {
  parser.notesKept = 0;
  parser.letters = 0;
  parser.overflow = false;
  parser.state = noteGrammar::idle;
  parser.runOpen = false;
  parser.textStart = -1;
  parser.chord->noteCount = 0;
}

void finishChord(ChordParser& parser) {
  const noteGrammar::Step& end = noteGrammar::table.steps[parser.state][noteGrammar::endClass];
  chordParsing::takeStep(parser, end, 0, TextPosition{});  // settles only what waits
  chordParsing::closeRun(parser);
}

namespace {

// A chord's echo on its way out, gathered in a small block of its own: a
// store through a char pointer into a shared buffer could touch anything,
// and would make the compiler reload the reader's state.
struct EchoBlock {
  static constexpr std::size_t capacity = 256;
  char bytes[capacity];
  std::size_t used = 0;
};

void passOn(EchoBlock& block, EchoSink echo) {
  if (block.used > 0 && echo.write != nullptr) echo.write(echo.context, block.bytes, block.used);
  block.used = 0;
}

// Takes one character of the chord stream at offset, on the line that
// starts at lineStart; true at the bar.
inline bool takeChordChar(ChordParser& parser, EchoBlock& block, EchoSink echo, unsigned char c,
                          std::int64_t offset, std::int64_t line, std::int64_t lineStart) {
  unsigned char folded = scoreFormat::foldCase(c);
  if (scoreFormat::isBlank(folded)) return false;
  if (parser.textStart < 0) {
    parser.textStart = offset;
    parser.textPosition = TextPosition{line, offset - lineStart + 1};
  }
  if (folded == scoreFormat::bar) return true;
  if (block.used == EchoBlock::capacity) passOn(block, echo);
  block.bytes[block.used++] = static_cast<char>(folded);
  parseChordChar(parser, folded, offset, line, lineStart);
  return false;
}

}  // namespace

bool parseChord(ScoreReader& reader, ChordParser& parser, EchoSink echo) {
  startChord(parser);
  EchoBlock block;
  bool bar = false;
  while (!bar) {
    if (reader.next == reader.length && !refillReader(reader)) break;
    ScoreCursor cursor = cursorOf(reader);
    while (cursor.next < cursor.end && !bar) {
      std::int64_t offset = cursorOffset(cursor);
      unsigned char c = takeChar(cursor);
      bar = takeChordChar(parser, block, echo, c, offset, cursor.line, cursor.lineStart);
    }
    keepCursor(reader, cursor);
  }
  parser.textEnd = readerOffset(reader);
  finishChord(parser);
  passOn(block, echo);
  return bar;
}
