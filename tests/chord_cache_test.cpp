#include "sound/chord_cache.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

// Looks the chord up; on a miss, keeps it if the cache will, filled with
// fill. Returns the kept bytes found or just filled, or null.
const unsigned char* meet(ChordCache& cache, std::vector<std::int16_t> notes, std::size_t bytes,
                          unsigned char fill) {
  Chord chord;
  chord.notes = notes.data();
  chord.capacity = chord.noteCount = static_cast<std::int64_t>(notes.size());
  CacheLookup lookup;
  if (const unsigned char* kept = findChord(cache, chord, bytes, lookup)) return kept;
  unsigned char* space = keepChord(cache, lookup, chord, bytes);
  if (space != nullptr) std::memset(space, fill, bytes);
  return nullptr;
}

}  // namespace

TEST(ChordCache, KeepsAChordTheSecondTimeAndFindsItTheThird) {
  ChordCache cache;
  resetCache(cache);
  EXPECT_EQ(meet(cache, {1, 2, 3}, 100, 7), nullptr);  // first meeting: not kept
  EXPECT_EQ(meet(cache, {1, 2, 3}, 100, 7), nullptr);  // second: kept, filled with 7
  EXPECT_EQ(meet(cache, {3, 2, 1}, 100, 9), nullptr);  // other order, other chord
  const unsigned char* found = meet(cache, {1, 2, 3}, 100, 0);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(std::vector<unsigned char>(found, found + 100), std::vector<unsigned char>(100, 7));
  forgetLast(cache);  // found again through its fingerprint, not as the last chord
  EXPECT_NE(meet(cache, {1, 2, 3}, 100, 0), nullptr);
  EXPECT_EQ(meet(cache, {1, 2}, 100, 0), nullptr);  // a prefix is no match
  resetCache(cache);                                // a new score starts with nothing kept
  EXPECT_EQ(meet(cache, {1, 2, 3}, 100, 0), nullptr);
}

TEST(ChordCache, StaysWithinItsBudgetAndSlots) {
  ChordCache cache;
  resetCache(cache);
  // Chords too long to keep, or of too many notes, are never kept.
  std::vector<std::int16_t> many(65, 4);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(meet(cache, {5}, 300u << 10, 1), nullptr);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(meet(cache, many, 10, 1), nullptr);
  // Chords of 200 KB each: the 3 MB budget takes 15 of them, and no more.
  std::size_t kept = 0;
  for (std::int16_t pitch = 0; pitch < 40; ++pitch) {
    meet(cache, {pitch}, 200u << 10, 2);
    meet(cache, {pitch}, 200u << 10, 2);
    kept += meet(cache, {pitch}, 200u << 10, 2) != nullptr;
  }
  EXPECT_EQ(kept, 15u);
  EXPECT_LE(cache.capacity, ChordCache::budget);
  // Small chords fill at most half of the slots.
  resetCache(cache);
  kept = 0;
  for (std::int16_t k = 0; k < 3000; ++k) {
    std::vector<std::int16_t> notes = {static_cast<std::int16_t>(k % 48),
                                       static_cast<std::int16_t>(k / 48)};
    meet(cache, notes, 8, 3);
    meet(cache, notes, 8, 3);
    kept += meet(cache, notes, 8, 3) != nullptr;
  }
  EXPECT_EQ(kept, ChordCache::slotCount / 2);
}
