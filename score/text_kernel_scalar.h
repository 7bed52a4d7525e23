// The scalar kernel: the window steps of both passes a byte at a time,
// from the note grammar's own classes. Every build has it; it is the twin
// the vector kernels are tested against, and the way where the processor
// has no vector unit the program was built for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "score/note_grammar.h"
#include "score/score_format.h"
#include "score/text_scan.h"

namespace textScan {

struct ScalarKernel {
  // Returns the masks of the window at bytes (window bytes must be readable).
  static Masks classify(const unsigned char* bytes) {
    Masks m;
    unsigned zero = 0;
    unsigned three = 0;
    unsigned dee = 0;
    unsigned tee = 0;
    unsigned flat = 0;
    unsigned sharp = 0;
    for (unsigned i = 0; i < window; ++i) {
      unsigned char c = scoreFormat::foldCase(bytes[i]);
      unsigned bit = 1u << i;
      int charClass = noteGrammar::table.classOf[c];
      if (charClass < noteGrammar::letterClass) m.octave |= bit;
      if (noteGrammar::isLetter(charClass)) m.letter |= bit;
      if (c == scoreFormat::flat) flat |= bit;
      if (c == scoreFormat::sharp) sharp |= bit;
      if (scoreFormat::isBlank(c)) m.blank |= bit;
      if (c == '\n') m.lineFeed |= bit;
      if (c == scoreFormat::bar) m.bar |= bit;
      if (c == '\r') m.carriage |= bit;
      if (c == scoreFormat::firstOctave) zero |= bit;
      if (c == lastOctave) three |= bit;
      if (c == scoreFormat::lowestLetter) dee |= bit;
      if (c == scoreFormat::highestLetter) tee |= bit;
    }
    m.accidental = flat | sharp;
    m.outside = outsideOf(zero, dee, flat, three, tee, sharp);
    return m;
  }

  // Returns how many bytes from at come before the first octave character,
  // note letter or bar: none is passed here, the step table takes them.
  static std::size_t inertLength(const unsigned char* at, const unsigned char* end) {
    static_cast<void>(at);
    static_cast<void>(end);
    return 0;
  }

  // Copies a window's bytes to out, folded to lower case (A..Z only).
  static void foldWindow(char* out, const unsigned char* bytes) {
    for (std::size_t i = 0; i < textScan::window; ++i) {
      out[i] = static_cast<char>(scoreFormat::foldCase(bytes[i]));
    }
  }

  // Stores at pitches[i], for each byte i of the window that is a note's
  // letter in plain note text, that note's pitch (see Sse2Kernel).
  static void windowPitches(const unsigned char* bytes, unsigned char* pitches) {
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
  }

  // Stores at out, a byte each, the ASCII units of the run of them that
  // begins count UTF-16 units at units (little-endian if little, else
  // big-endian), four at a time while four more are whole; returns how
  // many it took (the caller takes the rest one by one).
  static std::size_t asciiUnits(const unsigned char* units, std::size_t count, bool little,
                                unsigned char* out) {
    // The bits that must be clear in four units read as one little-endian word.
    const std::uint64_t notAscii = little ? 0xFF80FF80FF80FF80ull : 0x80FF80FF80FF80FFull;
    const unsigned shift = little ? 0 : 8;
    std::size_t taken = 0;
    for (; count - taken >= 4; taken += 4) {
      std::uint64_t word = 0;
      std::memcpy(&word, units + 2 * taken, sizeof word);  // every target is little-endian
      if ((word & notAscii) != 0) break;
      word >>= shift;  // each unit's ASCII byte at the bottom of its 16 bits
      auto bytes = static_cast<std::uint32_t>((word & 0xFF) | (word >> 8 & 0xFF00) |
                                              (word >> 16 & 0xFF0000) | (word >> 24 & 0xFF000000));
      std::memcpy(out + taken, &bytes, sizeof bytes);
    }
    return taken;
  }
};

}  // namespace textScan
