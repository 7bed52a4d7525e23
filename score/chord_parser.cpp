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
  if (parser.chord != nullptr) parser.chord->noteCount = 0;
}

void finishChord(ChordParser& parser) {
  const noteGrammar::Step& end = noteGrammar::table.steps[parser.state][noteGrammar::endClass];
  chordParsing::takeStep(parser, end, 0, TextPosition{});  // settles only what waits
  chordParsing::closeRun(parser);
}

namespace {

// A chord's echo on its way to the console, gathered in a small block of
// its own: a store through a char pointer into the console's buffer could
// touch anything, and would make the compiler reload the reader's state.
struct EchoBlock {
  static constexpr std::size_t capacity = 256;
  char bytes[capacity];
  std::size_t used = 0;
  bool any = false;  // anything echoed in this chord
};

void passOn(EchoBlock& block, TextOutput& echo) {
  putScoreText(echo, block.bytes, block.used);
  block.used = 0;
}

// Takes one character of the chord stream at offset; true at the bar.
inline bool takeChar(ChordParser& parser, EchoBlock& block, TextOutput& echo, unsigned char c,
                     std::int64_t offset, std::int64_t line, std::int64_t lineStart) {
  unsigned char folded = scoreFormat::foldCase(c);
  if (scoreFormat::isBlank(folded)) return false;
  if (folded == scoreFormat::bar) return true;
  if (block.used == EchoBlock::capacity) passOn(block, echo);
  block.bytes[block.used++] = static_cast<char>(folded);
  block.any = true;
  parseChordChar(parser, folded, offset, line, lineStart);
  return false;
}

// Ends the chord's echo line, if it has one or the chord ended at its bar.
void endEcho(EchoBlock& block, TextOutput& echo, bool barReached) {
  passOn(block, echo);
  if (block.any || barReached) endLine(echo);
}

}  // namespace

bool parseChord(ScoreReader& reader, ChordParser& parser, TextOutput& echo) {
  startChord(parser);
  EchoBlock block;
  bool bar = false;
  while (!bar) {
    if (reader.next == reader.length && !refillReader(reader)) break;
    // The bytes of this block, up to a CR at its very end: whether its LF
    // follows is for nextChar to find out.
    const unsigned char* bytes = reader.buffer;
    const std::int64_t base = reader.bufferStart;
    std::size_t i = reader.next;
    std::size_t end = reader.length - (bytes[reader.length - 1] == '\r' ? 1 : 0);
    std::int64_t line = reader.line;
    std::int64_t lineStart = reader.lineStart;
    while (i < end && !bar) {
      unsigned char c = bytes[i];
      std::int64_t offset = base + static_cast<std::int64_t>(i);
      ++i;
      if (c == '\r' && bytes[i] == '\n') {  // a CR LF reads as one LF
        c = '\n';
        ++i;
      }
      if (c == '\n') {
        ++line;
        lineStart = base + static_cast<std::int64_t>(i);
      }
      bar = takeChar(parser, block, echo, c, offset, line, lineStart);
    }
    reader.next = i;
    reader.line = line;
    reader.lineStart = lineStart;
    if (!bar && i == end && end < reader.length) {
      std::int64_t offset = readerOffset(reader);
      int c = nextChar(reader);
      if (c < 0) break;
      bar = takeChar(parser, block, echo, static_cast<unsigned char>(c), offset, reader.line,
                     reader.lineStart);
    }
  }
  finishChord(parser);
  endEcho(block, echo, bar);
  return bar;
}
