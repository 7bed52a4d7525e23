// Where the latest conversion's chords stand: in the sound (their
// samples), in the editor's text (their text indexes), and each other.

// Returns the lookups over a page's state {data, chord, format, current}:
// the latest conversion's data, where each field of a chord's record stands
// (records.js), the WAV's format, and whether the conversion is of the
// editor's text, so that its records' places in the editor stand.
export function createChordIndex(state) {
  // Returns the index of the chord whose samples hold sample, or -1.
  function chordAt(sample) {
    if (state.data === null) return -1;
    const table = state.data.chordTable;
    const field = state.chord;
    let low = 0;
    let high = table.length / field.count - 1;
    while (low <= high) {
      const middle = (low + high) >> 1;
      const start = table[middle * field.count + field.firstSample];
      if (sample < start) high = middle - 1;
      else if (sample >= start + table[middle * field.count + field.sampleCount]) low = middle + 1;
      else return middle;
    }
    return -1;
  }

  // Returns a field of a chord's record in the latest conversion, by name.
  function chordValue(chord, name) {
    return state.data.chordTable[chord * state.chord.count + state.chord[name]];
  }

  // Returns the editor's text indexes of a chord's text, or null.
  function chordRange(chord) {
    if (chord < 0 || !state.current) return null;
    return [chordValue(chord, "editorFrom"), chordValue(chord, "editorTo")];
  }

  // Returns the chord whose text holds the editor's text index at, or the
  // last one before it (a cursor after a bar stands at the chord just
  // written); the first chord before them all; -1 where none is kept.
  function chordAtText(at) {
    if (state.data === null || !state.current) return -1;
    let low = 0;
    let high = state.data.chordTable.length / state.chord.count - 1;
    let found = high >= 0 ? 0 : -1;
    while (low <= high) {
      const middle = (low + high) >> 1;
      if (chordRange(middle)[0] <= at) {
        found = middle;
        low = middle + 1;
      } else {
        high = middle - 1;
      }
    }
    return found;
  }

  // Returns the seconds a chord's sound begins and ends at.
  function chordSeconds(chord) {
    const rate = state.format.sampleRate;
    const start = chordValue(chord, "firstSample");
    return [start / rate, (start + chordValue(chord, "sampleCount")) / rate];
  }

  return {chordAt, chordValue, chordRange, chordAtText, chordSeconds};
}
