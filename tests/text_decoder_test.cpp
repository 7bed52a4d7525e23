#include "score/text_decoder.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>

#include "memory_streams.h"

namespace {

// Reads the whole decoded text in reads of up to step bytes.
std::string readText(ByteSource source, std::size_t step) {
  std::string text;
  unsigned char buffer[64];
  for (;;) {
    std::size_t count = 0;
    EXPECT_EQ(source.read(source.context, buffer, step, count), portOk);
    if (count == 0) return text;
    text.append(reinterpret_cast<char*>(buffer), count);
  }
}

struct Decoded {
  MemorySource memory;
  std::unique_ptr<TextDecoder> decoder = std::make_unique<TextDecoder>();
  ByteSource source;
  Decoded(const std::string& bytes, std::size_t chunk) {
    memory.bytes = bytes;
    memory.chunk = chunk;
    source = decodedSource(*decoder, memorySource(memory));
  }
};

// "a", "é", the G clef (a surrogate pair), CR LF, "|", in UTF-16 of either order.
const std::string littleEndian(
    "\xFF\xFE"
    "a\0\xE9\0\x34\xD8\x1E\xDD\r\0\n\0|\0",
    16);
const std::string bigEndian(
    "\xFE\xFF"
    "\0a\0\xE9\xD8\x34\xDD\x1E\0\r\0\n\0|",
    16);
const std::string utf8Text("a\xC3\xA9\xF0\x9D\x84\x9E\r\n|");

TEST(TextDecoder, ReadsMarkedTextAsItsUtf8AndPlainTextAsItIs) {
  for (std::size_t chunk : {std::size_t{1}, std::size_t{3}, std::size_t{1000}}) {
    for (std::size_t step : {std::size_t{1}, std::size_t{2}, std::size_t{64}}) {
      EXPECT_EQ(readText(Decoded(littleEndian, chunk).source, step), utf8Text);
      EXPECT_EQ(readText(Decoded(bigEndian, chunk).source, step), utf8Text);
      EXPECT_EQ(readText(Decoded("\xEF\xBB\xBF" + utf8Text, chunk).source, step), utf8Text);
      EXPECT_EQ(readText(Decoded(utf8Text, chunk).source, step), utf8Text);
      EXPECT_EQ(readText(Decoded("\xEF\xBB", chunk).source, step), "\xEF\xBB");  // half a mark
      EXPECT_EQ(readText(Decoded("", chunk).source, step), "");
    }
  }
}

TEST(TextDecoder, EveryUnitThatIsNoCharacterBecomesOneByte) {
  // A lone high surrogate before "a", a lone low one, a high one at the
  // end, then an odd last byte.
  std::string bytes(
      "\xFF\xFE\x00\xD8"
      "a\0\x00\xDC\x00\xD8\x41",
      11);
  EXPECT_EQ(readText(Decoded(bytes, 1).source, 64),
            "\xFF"
            "a\xFF\xFF\xFF");
}

// A long UTF-16LE text of characters of every UTF-8 length, lone
// surrogates of both halves among them, and an odd last byte.
std::string mixedUtf16(int characters, std::mt19937& random) {
  std::u16string units;
  for (int i = 0; i < characters; ++i) {
    static const char16_t pick[] = {u'd', u'\u00E9', u'\u266F', 0xD834, u'\n', 0xDC00, u' '};
    char16_t unit = pick[random() % 7];
    units.push_back(unit);
    if (unit == 0xD834 && random() % 8 != 0) units.push_back(0xDD1E);
  }
  std::string bytes("\xFF\xFE", 2);
  for (char16_t unit : units) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes + "A";
}

TEST(TextDecoder, SeeksToAnyOffsetOfTheTextEvenWithinACharacter) {
  std::mt19937 random(7);
  Decoded decoded(mixedUtf16(40000, random), 4096);
  std::string text = readText(decoded.source, 64);
  for (int i = 0; i < 300; ++i) {
    std::size_t at = random() % (text.size() + 1);
    ASSERT_EQ(decoded.source.seek(decoded.source.context, static_cast<std::int64_t>(at)), portOk);
    unsigned char buffer[7];
    std::size_t count = 0;
    ASSERT_EQ(decoded.source.read(decoded.source.context, buffer, sizeof buffer, count), portOk);
    ASSERT_EQ(std::string(reinterpret_cast<char*>(buffer), count), text.substr(at, sizeof buffer))
        << "at " << at;
  }
  EXPECT_NE(decoded.source.seek(decoded.source.context, static_cast<std::int64_t>(text.size()) + 1),
            portOk);
}

// Walking back through the whole text a step at a time, each step read and
// followed by a return to the end (as a warning's place is looked for),
// decodes each unit a few times, not once per step.
TEST(TextDecoder, GoingBackCostsTheDistanceGoneBack) {
  std::mt19937 random(11);
  std::string bytes = mixedUtf16(200000, random);
  Decoded decoded(bytes, 1 << 16);
  std::string text = readText(decoded.source, 64);
  const auto end = static_cast<std::int64_t>(text.size());
  std::int64_t afterReading = decoded.decoder->unitsDecoded;
  ByteSource source = decoded.source;
  for (std::int64_t start = end - 37; start > 0; start -= 256) {
    ASSERT_EQ(source.seek(source.context, start), portOk);
    unsigned char buffer[37];
    std::size_t count = 0;
    ASSERT_EQ(source.read(source.context, buffer, sizeof buffer, count), portOk);
    ASSERT_EQ(std::string(reinterpret_cast<char*>(buffer), count),
              text.substr(static_cast<std::size_t>(start), sizeof buffer));
    ASSERT_EQ(source.seek(source.context, end), portOk);
  }
  std::int64_t units = static_cast<std::int64_t>(bytes.size() - 2) / 2;
  EXPECT_LT(decoded.decoder->unitsDecoded - afterReading, 2 * units);
}

// Runs of ASCII of every length up to 80 between units that are not ASCII
// (with a byte of an ASCII character in either half among them), in either
// byte order, read by each text kernel: each gives the text's UTF-8.
TEST(TextDecoder, EveryKernelTakesRunsOfAsciiAsTheirBytes) {
  std::mt19937 random(16);
  std::u16string units;
  std::string utf8;
  static const char16_t others[] = {u'\u0141', u'\u4100', u'\u00E9', u'\u4E41'};
  static const char* const othersUtf8[] = {"\xC5\x81", "\xE4\x84\x80", "\xC3\xA9", "\xE4\xB9\x81"};
  for (int run = 0; run < 400; ++run) {
    for (auto i = random() % 81; i > 0; --i) {
      auto c = static_cast<char>('!' + random() % 94);
      units.push_back(static_cast<char16_t>(c));
      utf8.push_back(c);
    }
    auto other = random() % 4;
    units.push_back(others[other]);
    utf8 += othersUtf8[other];
  }
  for (bool little : {true, false}) {
    std::string bytes = little ? std::string("\xFF\xFE", 2) : std::string("\xFE\xFF", 2);
    for (char16_t unit : units) {
      bytes.push_back(static_cast<char>(little ? unit & 0xFF : unit >> 8));
      bytes.push_back(static_cast<char>(little ? unit >> 8 : unit & 0xFF));
    }
    for (TextKernel kernel : allTextKernels) {
      if (!textKernelAvailable(kernel)) continue;
      for (std::size_t step : {std::size_t{61}, std::size_t{64}}) {
        Decoded decoded(bytes, 4096);
        decoded.decoder->kernel = kernel;
        EXPECT_EQ(readText(decoded.source, step), utf8)
            << textKernelName(kernel) << (little ? " little" : " big") << ", reads of " << step;
      }
    }
  }
}

}  // namespace
