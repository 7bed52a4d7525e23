#include "score/chord_parser.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// Copies a window's bytes to out, folded to lower case (A..Z only).
inline void foldWindow(char* out, const unsigned char* bytes) {
#if defined(__SSE2__)
  __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
  __m128i upper = _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8('A' - 1)),
                                _mm_cmplt_epi8(v, _mm_set1_epi8('Z' + 1)));
  v = _mm_add_epi8(v, _mm_and_si128(upper, _mm_set1_epi8(0x20)));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
#else
  for (std::size_t i = 0; i < textScan::window; ++i) {
    out[i] = static_cast<char>(scoreFormat::foldCase(bytes[i]));
  }
#endif
}

// Stores at pitches[i], for each byte i of the window that is a note's
// letter in plain note text (its octave before it, its accidental, if any,
// right after it), that note's pitch; other bytes get what they get. (Plain
// text ends at the window's last octave, so no such letter is its last byte.)
inline void windowPitches(const unsigned char* bytes, unsigned char* pitches) {
  using scoreFormat::noteLetters;
#if defined(__SSE2__)
  auto all = [](int c) { return _mm_set1_epi8(static_cast<char>(c)); };
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
  const __m128i lower = _mm_or_si128(v, all(0x20));
  const __m128i octave = _mm_sub_epi8(_mm_slli_si128(v, 1), all(scoreFormat::firstOctave));
  const __m128i twice = _mm_add_epi8(octave, octave);
  const __m128i four = _mm_add_epi8(twice, twice);
  __m128i pitch = _mm_add_epi8(_mm_add_epi8(four, four), four);  // the octave times 12
  for (int letter = 0; letter < scoreFormat::letterCount; ++letter) {
    const __m128i is = _mm_cmpeq_epi8(lower, all(noteLetters[letter]));
    pitch = _mm_add_epi8(
        pitch,
        _mm_and_si128(
            is, all(scoreFormat::semitoneOffset(static_cast<unsigned char>(noteLetters[letter])))));
  }
  const __m128i next = _mm_srli_si128(v, 1);
  pitch = _mm_add_epi8(pitch, _mm_and_si128(_mm_cmpeq_epi8(next, all(scoreFormat::sharp)), all(1)));
  pitch =
      _mm_add_epi8(pitch, _mm_cmpeq_epi8(_mm_or_si128(next, all(0x20)), all(scoreFormat::flat)));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(pitches), pitch);
#else
  using noteGrammar::table;
  for (std::size_t i = 1; i + 1 < textScan::window; ++i) {
    int charClass = table.classOf[bytes[i]];
    if (!noteGrammar::isLetter(charClass)) continue;
    int pitch =
        (bytes[i - 1] - scoreFormat::firstOctave) * 12 + noteGrammar::semitoneOfClass(charClass);
    int next = table.classOf[bytes[i + 1]];
    pitch += next == noteGrammar::sharpClass ? 1 : next == noteGrammar::flatClass ? -1 : 0;
    pitches[i] = static_cast<unsigned char>(pitch);
  }
#endif
}

// Takes the plain note text of length bytes at the cursor (whole tokens
// and blanks, checked by textScan::plainTokens, whose masks are m): echoes
// and keeps its notes, a letter at a time, and counts its lines.
void takeTokens(ChordParser& parser, EchoBlock& block, ScoreCursor& cursor,
                const textScan::Masks& m, unsigned length, unsigned letters) {
  using namespace textScan;
  const unsigned char* bytes = cursor.bytes + cursor.next;
  char folded[2 * window];  // the window folded, and room for a token cut at its end
  foldWindow(folded, bytes);
  unsigned char pitches[window];
  windowPitches(bytes, pitches);
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

#if defined(SCORE2WAV_WIDE_WINDOWS)
// Returns a wide window's bytes v folded as foldWindow folds them.
SCORE2WAV_WIDE inline __m256i foldWide(__m256i v) {
  __m256i upper = _mm256_and_si256(_mm256_cmpgt_epi8(v, textScan::wideSplat('A' - 1)),
                                   _mm256_cmpgt_epi8(textScan::wideSplat('Z' + 1), v));
  return _mm256_add_epi8(v, _mm256_and_si256(upper, textScan::wideSplat(0x20)));
}

// Returns the pitches of a wide window's letters (its bytes v) as
// windowPitches gives them.
SCORE2WAV_WIDE inline __m256i widePitches(__m256i v) {
  using scoreFormat::noteLetters;
  const __m256i lower = _mm256_or_si256(v, textScan::wideSplat(0x20));
  // Each byte's neighbours, across the halves: the byte before (0 before
  // the first) and the byte after (0 after the last).
  const __m256i before = _mm256_alignr_epi8(v, _mm256_permute2x128_si256(v, v, 0x08), 15);
  const __m256i after = _mm256_alignr_epi8(_mm256_permute2x128_si256(v, v, 0x81), v, 1);
  const __m256i octave = _mm256_sub_epi8(before, textScan::wideSplat(scoreFormat::firstOctave));
  const __m256i twice = _mm256_add_epi8(octave, octave);
  const __m256i four = _mm256_add_epi8(twice, twice);
  __m256i pitch = _mm256_add_epi8(_mm256_add_epi8(four, four), four);  // the octave times 12
  for (int letter = 0; letter < scoreFormat::letterCount; ++letter) {
    const int semitone =
        scoreFormat::semitoneOffset(static_cast<unsigned char>(noteLetters[letter]));
    pitch = _mm256_add_epi8(
        pitch,
        _mm256_and_si256(textScan::wideIs(lower, static_cast<unsigned char>(noteLetters[letter])),
                         textScan::wideSplat(static_cast<unsigned char>(semitone))));
  }
  pitch = _mm256_add_epi8(
      pitch, _mm256_and_si256(textScan::wideIs(after, scoreFormat::sharp), textScan::wideSplat(1)));
  return _mm256_add_epi8(pitch, textScan::wideIs(_mm256_or_si256(after, textScan::wideSplat(0x20)),
                                                 scoreFormat::flat));
}

// For each mask of eight bytes, the indexes of its set bits in rising
// order: the shuffle that gathers those bytes at the front.
struct Gathers {
  unsigned char of[256][8];
  constexpr Gathers() : of() {
    for (int mask = 0; mask < 256; ++mask) {
      int count = 0;
      for (int bit = 0; bit < 8; ++bit) {
        if ((mask >> bit) & 1) of[mask][count++] = static_cast<unsigned char>(bit);
      }
    }
  }
};
inline constexpr Gathers gathers;

// Returns the bytes of the eighth i (0..3) of v that the mask keeps (its
// bits 0..7), at the front.
SCORE2WAV_WIDE inline __m128i gatherEighth(__m256i v, int i, unsigned mask) {
  __m128i half = i < 2 ? _mm256_castsi256_si128(v) : _mm256_extracti128_si256(v, 1);
  if (i % 2 == 1) half = _mm_srli_si128(half, 8);
  __m128i order = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(gathers.of[mask]));
  return _mm_shuffle_epi8(half, order);
}

// Writes the bytes of v whose bits are set in keep to out, in order, and
// returns the end of what they fill (eight bytes past it may be written).
SCORE2WAV_WIDE inline char* gatherBytes(__m256i v, unsigned keep, char* out) {
  for (int i = 0; i < 4; ++i) {
    unsigned mask = (keep >> (8 * i)) & 0xFFu;
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), gatherEighth(v, i, mask));
    out += __builtin_popcount(mask);
  }
  return out;
}

// Stores the bytes of v whose bits are set in keep at notes, in order, as
// pitches (eight notes past them may be written).
SCORE2WAV_WIDE inline void gatherNotes(__m256i v, unsigned keep, std::int16_t* notes) {
  for (int i = 0; i < 4; ++i) {
    unsigned mask = (keep >> (8 * i)) & 0xFFu;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(notes),
                     _mm_cvtepu8_epi16(gatherEighth(v, i, mask)));
    notes += __builtin_popcount(mask);
  }
}

// Appends to the echo block, at used, the bytes of the wide window v that
// keep marks (all of its first length bytes if keep marks them all),
// folded; returns the bytes of the block used then.
SCORE2WAV_WIDE inline std::size_t echoWide(EchoBlock& block, std::size_t used, __m256i v,
                                           unsigned keep, unsigned length) {
  char* out = block.bytes + used;
  if (keep == textScan::below(length)) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), foldWide(v));
    return used + length;
  }
  return static_cast<std::size_t>(gatherBytes(foldWide(v), keep, out) - block.bytes);
}

// Returns the place of byte i of a wide window at the cursor, whose LFs
// before it are lineFeeds.
inline TextPosition placeInWindow(const ScoreCursor& cursor, unsigned i, unsigned lineFeeds) {
  std::int64_t offset = cursorOffset(cursor);
  std::int64_t lineStart =
      lineFeeds != 0 ? offset + textScan::highestBit(lineFeeds) + 1 : cursor.lineStart;
  return TextPosition{cursor.line + textScan::bitCount<textScan::wideWindow>(lineFeeds),
                      offset + i - lineStart + 1};
}

// Takes wide windows from the cursor on while each is plain note text from
// its first byte whose notes fit, as takeStretch takes narrow ones: a
// window's echo is its bytes but the blanks, folded, and its notes the
// pitches at its letters, each gathered a vector at a time. The cursor and
// counts stay in locals while it runs: the echo and the notes are stored
// through pointers that may alias anything, so fields in memory would be
// read again after every store, and the next window's place waits on them.
SCORE2WAV_WIDE SCORE2WAV_NOINLINE void takePlainWide(ChordParser& parser, EchoBlock& block,
                                                     EchoSink echo, ScoreCursor& cursor) {
  using namespace textScan;
  ScoreCursor at = cursor;
  std::size_t used = block.used;
  std::int64_t kept = parser.notesKept;
  std::int16_t* const notes = parser.chord->notes;
  // Eight notes past the window's may be written: the last few windows of
  // the chord's room are left to the narrow way.
  const std::int64_t room = parser.chord->capacity - 8;
  while (at.end - at.next >= wideWindow && beginsPlain(at.bytes[at.next], false)) {
    const unsigned char* bytes = at.bytes + at.next;
    Masks m = classifyWide(bytes);
    unsigned letters = 0;
    unsigned length = plainTokens<wideWindow>(m, m.blank, letters);
    if (length == 0 || kept + letters > room) break;
    if (used + 2 * wideWindow > EchoBlock::capacity) {
      block.used = used;
      passOn(block, echo);
      used = block.used;
    }
    if (letters > 0) chordParsing::closeRun(parser);  // as the first note would (not blanks)
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes));
    unsigned span = below(length);
    used = echoWide(block, used, v, ~m.blank & span, length);
    gatherNotes(widePitches(v), m.letter & span, notes + kept);
    kept += letters;
    unsigned lineFeeds = m.lineFeed & span;
    if (lineFeeds != 0) {
      at.line += bitCount<wideWindow>(lineFeeds);
      at.lineStart = cursorOffset(at) + highestBit(lineFeeds) + 1;
    }
    at.next += length;
  }
  parser.letters += kept - parser.notesKept;
  parser.notesKept = kept;
  parser.chord->noteCount = kept;
  block.used = used;
  cursor = at;
}

// Takes skipped text and blanks from the cursor on, a wide window at a
// time, up to the first octave that may begin a note, bar or CR, as the
// step table takes them (echoed folded without blanks, letters and lines
// counted, the run of skipped text grown over the bytes skipped); returns
// true if it took any. Plain text that might have begun at a blank begins
// at its octave all the same. Its place stays in locals, as in
// takePlainWide, and the run grows once, at the end.
SCORE2WAV_WIDE SCORE2WAV_NOINLINE bool takeSkippedWide(ChordParser& parser, EchoBlock& block,
                                                       EchoSink echo, ScoreCursor& cursor) {
  using namespace textScan;
  ScoreCursor at = cursor;
  std::size_t used = block.used;
  std::int64_t letterCount = 0;
  std::int64_t firstSkipped = -1;  // file offsets of the first byte skipped, and past the last
  std::int64_t skippedEnd = 0;
  TextPosition firstPosition;
  while (at.end - at.next >= wideWindow) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at.bytes + at.next));
    const std::int64_t offset = cursorOffset(at);
    WideStops w = wideStops(v);
    unsigned stop = w.stops | w.carriages;
    unsigned length = stop != 0 ? lowestBit(stop) : wideWindow;
    if (length == 0) break;
    unsigned span = below(length);
    unsigned skipped = ~w.blanks & span;
    if (used + 2 * wideWindow > EchoBlock::capacity) {
      block.used = used;
      passOn(block, echo);
      used = block.used;
    }
    used = echoWide(block, used, v, skipped, length);
    if (skipped != 0) {
      if (firstSkipped < 0) {
        unsigned first = lowestBit(skipped);
        firstSkipped = offset + first;
        firstPosition = placeInWindow(at, first, w.lineFeeds & below(first));
      }
      skippedEnd = offset + highestBit(skipped) + 1;
    }
    letterCount += bitCount<wideWindow>(w.letters & span);
    unsigned feeds = w.lineFeeds & span;
    if (feeds != 0) {
      at.line += bitCount<wideWindow>(feeds);
      at.lineStart = offset + highestBit(feeds) + 1;
    }
    at.next += length;
    if (length < wideWindow) break;
  }
  block.used = used;
  if (at.next == cursor.next) return false;
  if (firstSkipped >= 0) {
    chordParsing::skipChars(parser, firstSkipped, skippedEnd - firstSkipped, firstPosition);
  }
  parser.letters += letterCount;
  cursor = at;
  return true;
}
#endif

// Takes a stretch of the window at the cursor in one step, while nothing
// waits (or an octave and a letter wait that the window shows to be a
// note): skipped bytes (echoed folded, their letters counted, the run of
// skipped text grown), or plain note text. Gives what the step table
// would; returns false if it took nothing, leaving a character for it.
bool takeStretch(ChordParser& parser, EchoBlock& block, EchoSink echo, ScoreCursor& cursor,
                 bool wide) {
  using namespace textScan;
#if defined(SCORE2WAV_WIDE_WINDOWS)
  // Skipped text and blanks, from a byte that is no octave, bar or CR, go
  // the wide way.
  unsigned char first = cursor.bytes[cursor.next];
  if (wide && parser.state == noteGrammar::idle &&
      noteGrammar::table.classOf[first] >= noteGrammar::letterClass && first != scoreFormat::bar &&
      first != '\r' && cursor.end - cursor.next >= wideWindow) {
    return takeSkippedWide(parser, block, echo, cursor);
  }
#endif
  std::int64_t offset = cursorOffset(cursor);
  Masks m;
  Gate gate =
      passGate(parser.pace, offset, parser.state != noteGrammar::idle,
               beginsPlain(cursor.bytes[cursor.next], false), cursor.bytes + cursor.next, m);
  if (gate == Gate::closed) return false;
  if (gate == Gate::noteSettled) {
    chordParsing::keepNote(parser, noteGrammar::pitchOfPair(parser.state));
    parser.state = noteGrammar::idle;
  }
  if (block.used + 2 * window > EchoBlock::capacity) passOn(block, echo);
  unsigned stop = m.octave | m.blank | m.bar | m.carriage;
  if ((stop & 1u) == 0) {  // no LF within: the line stays
    unsigned length = stop != 0 ? lowestBit(stop) : window;
    foldWindow(block.bytes + block.used, cursor.bytes + cursor.next);
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
    takeTokens(parser, block, cursor, m, length, letters);
#if defined(SCORE2WAV_WIDE_WINDOWS)
    if (wide) takePlainWide(parser, block, echo, cursor);
#else
    static_cast<void>(wide);
#endif
    if (cursor.end - cursor.next < window || !beginsPlain(cursor.bytes[cursor.next], false)) {
      return true;
    }
    if (block.used + 2 * window > EchoBlock::capacity) passOn(block, echo);
    m = classify(cursor.bytes + cursor.next);
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
SCORE2WAV_NOINLINE bool parseChordByGrammar(ScoreReader& reader, ChordParser& parser,
                                            EchoSink echo) {
  EchoBlock block;
  const bool wide = textScan::takesWideWindows(reader.wideWindows);
  bool bar = false;
  while (!bar) {
    if (reader.next == reader.length && !refillReader(reader)) break;
    ScoreCursor cursor = cursorOf(reader);
    while (cursor.next < cursor.end && !bar) {
      bool settled =
          parser.state == noteGrammar::idle || parser.state >= noteGrammar::firstPairState;
      if (settled && parser.textStart >= 0 && reader.fastPaths &&
          cursor.end - cursor.next >= textScan::window &&
          takeStretch(parser, block, echo, cursor, wide)) {
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
  return parseChordByGrammar(reader, parser, echo);
}
