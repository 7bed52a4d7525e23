#include "score/chord_parser.h"

#include <algorithm>
#include <cstring>

#include "score/chord_parser_steps.h"
#include "score/text_kernel_scalar.h"
#include "score/text_kernel_sse2.h"

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

// Takes the plain note text of length bytes at the cursor (whole tokens
// and blanks, checked by textScan::plainTokens, whose masks are m): echoes
// and keeps its notes, a letter at a time, and counts its lines.
template <typename Kernel>
void takeTokens(ChordParser& parser, EchoBlock& block, ScoreCursor& cursor,
                const textScan::Masks& m, unsigned length, unsigned letters) {
  using namespace textScan;
  const unsigned char* bytes = cursor.bytes + cursor.next;
  char folded[2 * window];  // the window folded, and room for a token cut at its end
  Kernel::foldWindow(folded, bytes);
  unsigned char pitches[window];
  Kernel::windowPitches(bytes, pitches);
  std::int16_t* notes = parser.chord->notes + parser.notesKept;
  char* out = block.bytes + block.used;
  for (unsigned bits = m.letter & below(length); bits != 0; bits &= bits - 1) {
    unsigned at = lowestBit(bits);         // the letter; its octave stands before it
    std::memcpy(out, folded + at - 1, 4);  // the token, and a byte the next one overwrites
    out += 2 + ((m.accidental >> (at + 1)) & 1u);
    *notes++ = pitches[at];
  }
  unsigned lineFeeds = m.lineFeed & below(length);
  if (lineFeeds != 0) {
    cursor.line += bitCount(lineFeeds);
    cursor.lineStart = cursorOffset(cursor) + highestBit(lineFeeds) + 1;
  }
  block.used = static_cast<std::size_t>(out - block.bytes);
  parser.notesKept += letters;
  parser.letters += letters;
  parser.chord->noteCount = parser.notesKept;
  cursor.next += length;
}

// Takes a stretch of the window at the cursor in one step, while nothing
// waits (or an octave and a letter wait that the window shows to be a
// note): skipped bytes (echoed folded, their letters counted, the run of
// skipped text grown), or plain note text. Gives what the step table
// would; returns false if it took nothing, leaving a character for it.
template <typename Kernel>
bool takeStretch(ChordParser& parser, EchoBlock& block, EchoSink echo, ScoreCursor& cursor,
                 bool wide) {
  using namespace textScan;
  // Skipped text and blanks, from a byte that is no octave, bar or CR, go
  // the wide way.
  unsigned char first = cursor.bytes[cursor.next];
  if (wide && parser.state == noteGrammar::idle &&
      noteGrammar::table.classOf[first] >= noteGrammar::letterClass && first != scoreFormat::bar &&
      first != '\r' && cursor.end - cursor.next >= wideWindow) {
    return takeSkippedWide(parser, block, echo, cursor);
  }
  std::int64_t offset = cursorOffset(cursor);
  Masks m;
  Gate gate = passGate<Kernel>(parser.pace, offset, parser.state != noteGrammar::idle,
                               beginsPlain(cursor.bytes[cursor.next], false),
                               cursor.bytes + cursor.next, m);
  if (gate == Gate::closed) return false;
  if (gate == Gate::noteSettled) {
    chordParsing::keepNote(parser, noteGrammar::pitchOfPair(parser.state));
    parser.state = noteGrammar::idle;
  }
  if (block.used + 2 * window > EchoBlock::capacity) passOn(block, echo);
  unsigned stop = m.octave | m.blank | m.bar | m.carriage;
  if ((stop & 1u) == 0) {  // no LF within: the line stays
    unsigned length = stop != 0 ? lowestBit(stop) : window;
    Kernel::foldWindow(block.bytes + block.used, cursor.bytes + cursor.next);
    block.used += length;
    parser.letters += bitCount(m.letter & below(length));
    chordParsing::skipChars(parser, offset, length,
                            TextPosition{cursor.line, offset - cursor.lineStart + 1});
    cursor.next += length;
    return true;
  }
  if (((m.octave | m.blank) & 1u) == 0 || !mayTry(parser.pace, offset)) return false;
  unsigned letters = 0;
  unsigned length = plainTokens(m, m.blank, letters);
  bool fits = parser.notesKept + letters <= parser.chord->capacity;
  tried(parser.pace, offset, length > 0 && fits);
  if (length == 0 || !fits) return false;
  // Plain text seldom ends at a window's edge: the windows after it are
  // taken here too while they are plain from their first byte.
  for (;;) {
    if (letters > 0) chordParsing::closeRun(parser);  // as the first note would (not blanks)
    takeTokens<Kernel>(parser, block, cursor, m, length, letters);
    if (wide) takePlainWide(parser, block, echo, cursor);
    if (cursor.end - cursor.next < window || !beginsPlain(cursor.bytes[cursor.next], false)) {
      return true;
    }
    if (block.used + 2 * window > EchoBlock::capacity) passOn(block, echo);
    m = Kernel::classify(cursor.bytes + cursor.next);
    length = plainTokens(m, m.blank, letters);
    if (length == 0 || parser.notesKept + letters > parser.chord->capacity) return true;
  }
}

// A short chord taken whole: at most this many bytes, blanks included, are
// looked at before the general way takes over.
constexpr std::size_t shortChordBytes = 32;

// Where a short chord stands: the index of its first character (or its
// bar) in the block and that character's place; the index just past its
// bar and the line there.
struct ShortChord {
  std::size_t start = 0;
  TextPosition position;
  std::size_t end = 0;
  std::int64_t line = 0;
  std::int64_t lineStart = 0;  // file offset where that line starts
  std::int64_t notes = 0;      // notes read
  std::size_t echoLength = 0;  // bytes of its echo
};

// Returns the index of the first byte from at that is no blank (end if
// none is), counting the lines it passes; a CR (which may pair with an LF)
// is not passed.
std::size_t passSomeBlanks(const unsigned char* bytes, std::size_t at, std::size_t end,
                           std::int64_t base, ShortChord& chord) {
  for (; at < end && scoreFormat::isBlank(bytes[at]); ++at) {
    if (bytes[at] != '\n') continue;
    ++chord.line;
    chord.lineStart = base + static_cast<std::int64_t>(at) + 1;
  }
  return at;
}

// Returns what passSomeBlanks does, and at itself at once when its byte is
// above every blank: most notes have no blank after them.
inline std::size_t passBlanks(const unsigned char* bytes, std::size_t at, std::size_t end,
                              std::int64_t base, ShortChord& chord) {
  if (at >= end || bytes[at] > ' ') return at;  // no blank: every byte below one is
  return passSomeBlanks(bytes, at, end, base, chord);
}

// Reads a whole short chord from the cursor's next character through its
// bar, when it is nothing but notes (with a pitch in the table, the letter
// right after the octave) and blanks: text on which the step table keeps
// every note and skips nothing. Its notes go to notes (room for capacity)
// and its echo to echo (room for shortChordBytes). Returns false if the
// chord is anything else.
bool readShortChord(const ScoreCursor& cursor, std::int16_t* notes, std::int64_t capacity,
                    char* echo, ShortChord& chord) {
  using noteGrammar::table;
  const unsigned char* bytes = cursor.bytes;
  std::size_t end = std::min(cursor.end, cursor.next + shortChordBytes);
  chord.line = cursor.line;
  chord.lineStart = cursor.lineStart;
  std::size_t at = passBlanks(bytes, cursor.next, end, cursor.base, chord);
  chord.start = at;
  chord.position =
      TextPosition{chord.line, cursor.base + static_cast<std::int64_t>(at) - chord.lineStart + 1};
  std::int64_t count = 0;
  char* const echoStart = echo;
  while (at + 1 < end && bytes[at] != scoreFormat::bar) {
    int octave = table.classOf[bytes[at]] - noteGrammar::octaveClass;
    int letter = table.classOf[bytes[at + 1]] - noteGrammar::letterClass;
    if (octave >= scoreFormat::octaveCount || letter < 0 || letter >= scoreFormat::letterCount ||
        count == capacity) {
      return false;
    }
    int pitch = octave * 12 + noteGrammar::semitoneOfClass(noteGrammar::letterClass + letter);
    *echo++ = static_cast<char>(bytes[at]);
    *echo++ = scoreFormat::noteLetters[letter];
    at = passBlanks(bytes, at + 2, end, cursor.base, chord);
    int accidental = at < end ? table.classOf[bytes[at]] : noteGrammar::otherClass;
    if (accidental == noteGrammar::flatClass || accidental == noteGrammar::sharpClass) {
      bool sharp = accidental == noteGrammar::sharpClass;
      pitch += sharp ? 1 : -1;
      if (pitch < 0 || pitch >= scoreFormat::pitchCount) return false;  // 0db, 3t#: skipped text
      *echo++ = static_cast<char>(sharp ? scoreFormat::sharp : scoreFormat::flat);
      at = passBlanks(bytes, at + 1, end, cursor.base, chord);
    }
    notes[count++] = static_cast<std::int16_t>(pitch);
  }
  if (at >= end || bytes[at] != scoreFormat::bar) return false;
  chord.end = at + 1;
  chord.notes = count;
  chord.echoLength = static_cast<std::size_t>(echo - echoStart);
  return true;
}

// Takes a whole short chord of plain notes from the reader, its bar
// included, as the step table would have taken it a character at a time:
// its place, notes, letters and echo, in a parser started on the chord.
// Returns false, having taken nothing, for any other chord: that is left to
// the general way.
bool takeShortChord(ScoreReader& reader, ChordParser& parser, EchoSink echo) {
  ShortChord chord;
  char text[shortChordBytes];
  ScoreCursor cursor = cursorOf(reader);
  Chord& notes = *parser.chord;
  if (!readShortChord(cursor, notes.notes, notes.capacity, text, chord)) return false;
  parser.textStart = cursor.base + static_cast<std::int64_t>(chord.start);
  parser.textPosition = chord.position;
  parser.notesKept = chord.notes;
  parser.letters = chord.notes;
  notes.noteCount = chord.notes;
  reader.next = chord.end;
  reader.line = chord.line;
  reader.lineStart = chord.lineStart;
  parser.textEnd = readerOffset(reader);
  if (chord.echoLength > 0 && echo.write != nullptr)
    echo.write(echo.context, text, chord.echoLength);
  return true;
}

// Reads the next chord by the note grammar, as parseChord does, in a parser
// started on the chord. Kept out of the short chords' way: its frame is
// larger than their whole work.
template <typename Kernel>
SCORE2WAV_NOINLINE bool parseChordByGrammar(ScoreReader& reader, ChordParser& parser, EchoSink echo,
                                            bool wide) {
  EchoBlock block;
  bool bar = false;
  while (!bar) {
    if (reader.next == reader.length && !refillReader(reader)) break;
    ScoreCursor cursor = cursorOf(reader);
    while (cursor.next < cursor.end && !bar) {
      bool settled =
          parser.state == noteGrammar::idle || parser.state >= noteGrammar::firstPairState;
      if (settled && parser.textStart >= 0 && reader.fastPaths &&
          cursor.end - cursor.next >= textScan::window &&
          takeStretch<Kernel>(parser, block, echo, cursor, wide)) {
        continue;
      }
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

}  // namespace

bool parseChord(ScoreReader& reader, ChordParser& parser, EchoSink echo) {
  startChord(parser);
  if (reader.fastPaths && reader.next < reader.length && takeShortChord(reader, parser, echo)) {
    return true;
  }
  using namespace textScan;
  switch (reader.kernel) {
    case TextKernel::scalar: break;
    case TextKernel::sse2: return parseChordByGrammar<Sse2Kernel>(reader, parser, echo, false);
    case TextKernel::avx2: return parseChordByGrammar<Sse2Kernel>(reader, parser, echo, true);
  }
  return parseChordByGrammar<ScalarKernel>(reader, parser, echo, false);
}
