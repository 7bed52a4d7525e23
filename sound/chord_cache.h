// The chord cache: the samples of chords met more than once, so that a
// chord played again is copied, not rendered. Its memory is bounded by its
// own budget whatever the score, and its fingerprints take a key new for
// every score, so no score can be written to crowd its chords together.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/allocation.h"
#include "score/chord.h"

// Where the cache keeps a chord: its notes, then its samples, in the arena.
struct CacheSlot {
  std::uint64_t hash = 0;    // of the chord's notes; 0 marks an empty slot
  std::uint32_t offset = 0;  // bytes into the arena where the notes start
  std::uint32_t noteCount = 0;
};

// Samples of chords met more than once, in one arena of bounded size with a
// fixed table of slots: what the cache holds is what it counts, so memory
// stays within its budget whatever the score. A chord is kept when it comes
// the second time (seen holds fingerprints of the chords met), so a score
// of all different chords spends nothing on it.
struct ChordCache {
  static constexpr std::size_t budget = 3u << 20;          // bytes of the arena at most
  static constexpr std::size_t firstCapacity = 64u << 10;  // bytes it starts with
  static constexpr std::size_t slotCount = 1u << 12;       // at most half of them used
  static constexpr std::size_t seenSlots = 1u << 12;       // fingerprints of chords met
  OwnedArray<unsigned char> arena;  // taken when the first chord is kept, grown as chords come
  std::size_t capacity = 0;         // bytes of the arena taken
  std::size_t used = 0;             // bytes of the arena filled
  std::size_t entries = 0;          // slots filled
  OwnedArray<CacheSlot> slots;      // slotCount, taken when the first chord is kept
  OwnedArray<std::uint64_t> seen;   // seenSlots, taken when a chord is first met
  std::int64_t last = -1;           // slot of the chord rendered last, if it is kept
  // The fingerprints' key, new for every score: no score can be written to
  // crowd its chords into one run of slots.
  std::uint64_t key = 0;
};

// Where findChord looked, for keepChord to keep the chord there.
struct CacheLookup {
  bool cacheable = false;  // the chord is small enough to keep
  std::uint64_t hash = 0;  // its fingerprint, when cacheable
  std::int64_t slot = -1;  // the empty slot it would take; -1 if the slots are not taken yet
};

// Empties the cache for a new score (keeping its memory) and takes a new key.
void resetCache(ChordCache& cache);

// Forgets the chord rendered last: the next one follows something else.
void forgetLast(ChordCache& cache);

namespace chordCaching {

// True if the slot holds this chord.
inline bool holds(const ChordCache& cache, std::size_t slot, const Chord& chord) {
  const CacheSlot& entry = cache.slots[slot];
  if (entry.noteCount != static_cast<std::uint32_t>(chord.noteCount)) return false;
  const unsigned char* kept = cache.arena.get() + entry.offset;
  for (std::int64_t i = 0; i < chord.noteCount; ++i) {
    std::int16_t note;
    std::memcpy(&note, kept + i * static_cast<std::int64_t>(sizeof note), sizeof note);
    if (note != chord.notes[i]) return false;
  }
  return true;
}

// Returns where a kept chord's samples start in the arena.
inline const unsigned char* cachedSamples(const ChordCache& cache, std::size_t slot) {
  const CacheSlot& entry = cache.slots[slot];
  return cache.arena.get() + entry.offset + entry.noteCount * sizeof(std::int16_t);
}

}  // namespace chordCaching

// Returns the kept samples of the chord if it is the one rendered last, or
// null: a chord played again at once is found inline, without hashing.
inline const unsigned char* findLastChord(const ChordCache& cache, const Chord& chord) {
  if (cache.last < 0) return nullptr;
  auto slot = static_cast<std::size_t>(cache.last);
  if (!chordCaching::holds(cache, slot, chord)) return nullptr;
  return chordCaching::cachedSamples(cache, slot);
}

// Returns the kept samples (bytes of them) of the chord, or null, and
// records in lookup where it would be kept. A chord played again at once
// is found without hashing.
const unsigned char* findChord(ChordCache& cache, const Chord& chord, std::size_t bytes,
                               CacheLookup& lookup);

// Returns space for bytes samples of the chord that findChord did not find,
// kept for the next time, or null when it is not to be kept: met for the
// first time, too large, or beyond the budget (or memory).
unsigned char* keepChord(ChordCache& cache, const CacheLookup& lookup, const Chord& chord,
                         std::size_t bytes);
