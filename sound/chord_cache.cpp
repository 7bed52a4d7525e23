#include "sound/chord_cache.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace {

constexpr std::size_t cacheableChordBytes = 256u << 10;
constexpr std::int64_t cacheableNotes = 64;  // longer chords rarely repeat

// Returns value with every bit of it spread over every bit of the result.
std::uint64_t mixBits(std::uint64_t value) {
  value ^= value >> 32;
  value *= 0xd6e8feb86659fd93ull;
  value ^= value >> 32;
  value *= 0xd6e8feb86659fd93ull;
  return value ^ (value >> 32);
}

// Returns a fingerprint of the chord's notes under the cache's key, never 0
// (the mark of an empty slot). Four notes go in at a time.
std::uint64_t chordHash(const ChordCache& cache, const Chord& chord) {
  std::uint64_t hash = mixBits(cache.key ^ static_cast<std::uint64_t>(chord.noteCount));
  std::uint64_t word = 0;
  for (std::int64_t i = 0; i < chord.noteCount; ++i) {
    word = word << 16 | static_cast<std::uint16_t>(chord.notes[i]);
    if (i % 4 == 3 || i + 1 == chord.noteCount) {
      hash = mixBits(hash ^ word);
      word = 0;
    }
  }
  return hash | 1u;
}

// Returns a key no score can know in advance: the clock and where this
// run's memory lies.
std::uint64_t freshKey(const ChordCache& cache) {
  static std::uint64_t runs = 0;
  auto now = static_cast<std::uint64_t>(
      std::chrono::high_resolution_clock::now().time_since_epoch().count());
  auto place = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&cache));
  auto code = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&freshKey));
  return mixBits(now ^ mixBits(place ^ mixBits(code + ++runs)));
}

// Returns the slot that holds the chord, or the empty slot where it would
// go; -1 when the cache has no slots.
std::int64_t findSlot(const ChordCache& cache, std::uint64_t hash, const Chord& chord) {
  if (!cache.slots) return -1;
  std::size_t slot = static_cast<std::size_t>(hash) & (ChordCache::slotCount - 1);
  while (cache.slots[slot].hash != 0 &&
         !(cache.slots[slot].hash == hash && chordCaching::holds(cache, slot, chord))) {
    slot = (slot + 1) & (ChordCache::slotCount - 1);
  }
  return static_cast<std::int64_t>(slot);
}

// Returns true if a chord with this fingerprint was met before (or, rarely,
// another with the same fingerprint slot and value), and remembers it; false
// too when there is no memory for the fingerprints.
bool metBefore(ChordCache& cache, std::uint64_t hash) {
  if (!cache.seen) {
    cache.seen = allocateArray<std::uint64_t>(ChordCache::seenSlots, true);
    if (!cache.seen) return false;
  }
  std::uint64_t& slot = cache.seen[hash % ChordCache::seenSlots];
  bool met = slot == hash;
  slot = hash;
  return met;
}

// Returns space for the chord's notes and bytes samples in the empty slot,
// with the notes stored, or null when the budget (or memory) has no room.
unsigned char* keepIn(ChordCache& cache, std::size_t slot, std::uint64_t hash, const Chord& chord,
                      std::size_t bytes) {
  std::size_t noteBytes = static_cast<std::size_t>(chord.noteCount) * sizeof(std::int16_t);
  std::size_t needed = cache.used + noteBytes + bytes;
  if (cache.entries >= ChordCache::slotCount / 2 || needed > ChordCache::budget) return nullptr;
  if (needed > cache.capacity) {
    // The arena grows as chords come (slots hold offsets, not addresses):
    // a score of few chords never takes the whole budget.
    std::size_t capacity =
        std::max(cache.capacity * 2, std::max(needed, ChordCache::firstCapacity));
    capacity = std::min(capacity, ChordCache::budget);
    void* grown = std::realloc(cache.arena.get(), capacity);
    if (grown == nullptr) return nullptr;
    cache.arena.release();
    cache.arena.reset(static_cast<unsigned char*>(grown));
    cache.capacity = capacity;
  }
  CacheSlot& entry = cache.slots[slot];
  entry.hash = hash;
  entry.offset = static_cast<std::uint32_t>(cache.used);
  entry.noteCount = static_cast<std::uint32_t>(chord.noteCount);
  std::memcpy(cache.arena.get() + cache.used, chord.notes, noteBytes);
  cache.used += noteBytes + bytes;
  ++cache.entries;
  return cache.arena.get() + entry.offset + noteBytes;
}

// Takes the cache's slots when the first chord is to be kept; false if
// memory is short (then nothing is cached).
bool ensureCache(ChordCache& cache) {
  if (!cache.slots) cache.slots = allocateArray<CacheSlot>(ChordCache::slotCount, true);
  return cache.slots != nullptr;
}

}  // namespace

void resetCache(ChordCache& cache) {
  cache.used = 0;  // the arena, if any, is kept for the next score
  cache.entries = 0;
  cache.last = -1;
  if (cache.slots)
    std::fill(cache.slots.get(), cache.slots.get() + ChordCache::slotCount, CacheSlot{});
  cache.seen.reset();
  cache.key = freshKey(cache);
}

void forgetLast(ChordCache& cache) { cache.last = -1; }

const unsigned char* findChord(ChordCache& cache, const Chord& chord, std::size_t bytes,
                               CacheLookup& lookup) {
  if (const unsigned char* samples = findLastChord(cache, chord)) return samples;
  cache.last = -1;
  lookup.cacheable = chord.noteCount <= cacheableNotes && bytes <= cacheableChordBytes;
  if (!lookup.cacheable) return nullptr;
  lookup.hash = chordHash(cache, chord);
#if defined(__GNUC__)
  // The fingerprint's slot, which keepChord reads once the chord's way is
  // chosen, is long out of the cache (the output streams through it): its
  // wait now overlaps that choice.
  if (cache.seen) __builtin_prefetch(&cache.seen[lookup.hash % ChordCache::seenSlots], 1);
#endif
  lookup.slot = findSlot(cache, lookup.hash, chord);
  if (lookup.slot < 0 || cache.slots[static_cast<std::size_t>(lookup.slot)].hash == 0)
    return nullptr;
  cache.last = lookup.slot;
  return chordCaching::cachedSamples(cache, static_cast<std::size_t>(lookup.slot));
}

unsigned char* keepChord(ChordCache& cache, const CacheLookup& lookup, const Chord& chord,
                         std::size_t bytes) {
  if (!lookup.cacheable || !metBefore(cache, lookup.hash) || !ensureCache(cache)) return nullptr;
  std::int64_t slot = lookup.slot >= 0 ? lookup.slot : findSlot(cache, lookup.hash, chord);
  unsigned char* samples = keepIn(cache, static_cast<std::size_t>(slot), lookup.hash, chord, bytes);
  if (samples != nullptr) cache.last = slot;
  return samples;
}
