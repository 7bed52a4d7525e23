// Tiles: a chord's samples summed in doubles, note by note in the order
// written, as the defining formula says; the way of every chord that takes
// neither fixed rows nor counted pitches, and every chord's exact fallback.
#include "base/cpu_features.h"
#include "sound/render_parts.h"

namespace render {

namespace {

// Samples of a chord of N notes whose ramp rows are rows[0..N), in one pass:
// u = 0, then u = ramp * gain + u for each note in order.
template <int N>
SCORE2WAV_ALWAYS_INLINE void sumFewKernel(const double* const* rows, double gain, std::size_t count,
                                          unsigned char* out) {
  const double* row[N];
  for (int i = 0; i < N; ++i) row[i] = rows[i];
  for (std::size_t k = 0; k < count; ++k) {
    double u = 0.0;
    for (int i = 0; i < N; ++i) u = row[i][k] * gain + u;
    out[k] = sampleOf(u);
  }
}

SCORE2WAV_ALWAYS_INLINE void sumFewNotesBody(const double* const* rows, std::int64_t noteCount,
                                             double gain, std::size_t count, unsigned char* out) {
  switch (noteCount) {
    case 1: sumFewKernel<1>(rows, gain, count, out); break;
    case 2: sumFewKernel<2>(rows, gain, count, out); break;
    case 3: sumFewKernel<3>(rows, gain, count, out); break;
    default: sumFewKernel<4>(rows, gain, count, out); break;
  }
}
SCORE2WAV_TWINS(void, sumFewNotes,
                (const double* const* rows, std::int64_t noteCount, double gain, std::size_t count,
                 unsigned char* out),
                (rows, noteCount, gain, count, out))

// Samples of a chord of any number of notes. A short stretch goes in tiles
// of register size, each over all the notes (as few tiles as may be: each
// reads every note); a long one (at most a block)
// a note at a time over all its sums, which streams best from memory.
// Either way each sum takes the notes in order.
SCORE2WAV_ALWAYS_INLINE void sumManyNotesBody(const double* const* rowOf, const std::int16_t* notes,
                                              std::int64_t noteCount, double gain,
                                              std::size_t count, double* sums, unsigned char* out) {
  if (count >= 64) {
    for (std::size_t k = 0; k < count; ++k) sums[k] = 0.0;
    for (std::int64_t i = 0; i < noteCount; ++i) {
      const double* row = rowOf[notes[i]];
      for (std::size_t k = 0; k < count; ++k) sums[k] = row[k] * gain + sums[k];
    }
    for (std::size_t k = 0; k < count; ++k) out[k] = sampleOf(sums[k]);
    return;
  }
  std::size_t k = 0;
  for (; k + 16 <= count; k += 16) sumTile<16>(rowOf, notes, noteCount, gain, k, out);
  for (; k + 8 <= count; k += 8) sumTile<8>(rowOf, notes, noteCount, gain, k, out);
  for (; k + 4 <= count; k += 4) sumTile<4>(rowOf, notes, noteCount, gain, k, out);
  for (; k < count; ++k) sumTile<1>(rowOf, notes, noteCount, gain, k, out);
}
SCORE2WAV_TWINS(void, sumManyNotes,
                (const double* const* rowOf, const std::int16_t* notes, std::int64_t noteCount,
                 double gain, std::size_t count, double* sums, unsigned char* out),
                (rowOf, notes, noteCount, gain, count, sums, out))

}  // namespace

// Renders count samples of a chord from the ramp rows of its pitches.
void sumNotes(const double* const* rowOf, const Chord& chord, double gain, std::size_t count,
              double* sums, unsigned char* out) {
  if (chord.noteCount > fewNotes) {
    sumManyNotes(rowOf, chord.notes, chord.noteCount, gain, count, sums, out);
    return;
  }
  const double* rows[fewNotes];
  for (std::int64_t i = 0; i < chord.noteCount; ++i) rows[i] = rowOf[chord.notes[i]];
  sumFewNotes(rows, chord.noteCount, gain, count, out);
}

}  // namespace render
