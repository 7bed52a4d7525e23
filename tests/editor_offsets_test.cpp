#include "driver/editor_offsets.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Returns the editor's index of each byte offset into the score's text.
std::vector<std::int64_t> indexes(const std::string& score, std::vector<std::int64_t> offsets) {
  std::vector<std::int64_t*> slots;
  for (std::int64_t& offset : offsets) slots.push_back(&offset);
  toEditorIndexes(reinterpret_cast<const unsigned char*>(score.data()), score.size(), slots);
  return offsets;
}

TEST(EditorOffsets, CountTheUnitsABrowserAndAnEditorMakeOfTheText) {
  // é: 2 bytes, 1 unit; CR LF: 2 bytes, 1 line break; the G clef: 4 bytes,
  // a surrogate pair; FF: no character, one U+FFFD.
  const std::string text =
      "\xC3\xA9\r\n\xF0\x9D\x84\x9E|\xFF"
      "A";
  EXPECT_EQ(indexes(text, {11, 0, 2, 4, 8, 9, 10}),
            (std::vector<std::int64_t>{7, 0, 1, 2, 4, 5, 6}));
  // A lone CR is a line break of its own; a sequence cut short is one U+FFFD
  // wherever the offset stands in it.
  EXPECT_EQ(indexes("a\rb\xE2\x82x", {2, 3, 4, 5, 6, 7}),
            (std::vector<std::int64_t>{2, 3, 3, 4, 5, 5}));
}

TEST(EditorOffsets, OffsetsAreIntoTheTextAfterAMarkOrOfAUtf16Score) {
  // UTF-16LE "é|x": the converter's text is C3 A9 7C 78.
  const std::string utf16("\xFF\xFE\xE9\x00|\x00x\x00", 8);
  EXPECT_EQ(indexes(utf16, {0, 2, 3, 4}), (std::vector<std::int64_t>{0, 1, 2, 3}));
  EXPECT_EQ(indexes("\xEF\xBB\xBF"
                    "ab",
                    {1, 2}),
            (std::vector<std::int64_t>{1, 2}));
}

}  // namespace
