// Where the records' places fall in the page's editor: the score's text as
// a browser decodes it (UTF-8, each invalid sequence one U+FFFD) and an
// editor holds it (UTF-16 units, every CR LF or lone CR one line break).
// The core works this out for the page, so that its script decodes nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Replaces each offset into the text of the score's size bytes (the text
// the converter reads: after a UTF-8 mark, a UTF-16 file's text in UTF-8)
// with the editor's index there: the UTF-16 units of the text before it, a
// sequence the offset cuts counting as its one U+FFFD. Offsets may come in
// any order; the text is decoded once, a block at a time.
void toEditorIndexes(const unsigned char* bytes, std::size_t size,
                     std::vector<std::int64_t*>& offsets);
