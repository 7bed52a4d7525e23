#include "score/chord_parser.h"

namespace chordParsing {

// Hands the open run on, if there is one.
void closeRun(ChordParser& parser) {
  if (parser.runOpen && parser.runs.add != nullptr)
    parser.runs.add(parser.runs.context, parser.run);
  parser.runOpen = false;
}

void skipWaiting(ChordParser& parser, int index) {
  skipChar(parser, parser.waitingOffset[index], parser.waitingPosition[index]);
}

}  // namespace chordParsing

void startChord(ChordParser& parser) {
  parser.notesKept = 0;
  parser.letters = 0;
  parser.overflow = false;
  parser.waitingCount = 0;
  parser.runOpen = false;
  if (parser.chord != nullptr) parser.chord->noteCount = 0;
}

void finishChord(ChordParser& parser) {
  using namespace chordParsing;
  if (parser.waitingCount == 1) skipWaiting(parser, 0);
  if (parser.waitingCount == 2) keepNote(parser, waitingPitch(parser));
  parser.waitingCount = 0;
  closeRun(parser);
}

bool parseChord(ScoreReader& reader, ChordParser& parser, TextOutput& echo) {
  startChord(parser);
  bool echoed = false;
  for (;;) {
    std::int64_t offset = readerOffset(reader);
    int c = nextChar(reader);
    if (c < 0) {
      finishChord(parser);
      if (echoed) endLine(echo);
      return false;
    }
    unsigned char folded = scoreFormat::foldCase(static_cast<unsigned char>(c));
    if (scoreFormat::isBlank(folded)) continue;
    if (folded == scoreFormat::bar) {
      finishChord(parser);
      endLine(echo);
      return true;
    }
    putChar(echo, static_cast<char>(folded));
    echoed = true;
    parseChordChar(parser, folded, offset, reader.line, reader.lineStart);
  }
}
