// The names a musician reads for the score's notes: d r m f s l t are a
// movable do in A major (A B C♯ D E F♯ G♯), 2d is A4 at 440 Hz, and the
// octave's number changes at C, as scientific pitch notation counts.

const semitones = {d: 0, r: 2, m: 4, f: 5, s: 7, l: 9, t: 11};
const fromA = ["A", "A♯", "B", "C", "C♯", "D", "D♯", "E", "F", "F♯", "G", "G♯"];

// Returns the name of pitch index 0 (0d, A2) to 47 (3t, G♯6): "A4".
export function pitchName(pitch) {
  return fromA[pitch % 12] + (2 + Math.floor((pitch + 9) / 12));
}

// Returns a pitch's frequency in hertz as the program tunes it (0d is 110 Hz).
export const pitchHertz = (pitch) => 110 * Math.pow(2, pitch / 12);

// Returns what a note token says ("2d: A4, 440 Hz", "1m#: D4, 293.7 Hz"),
// or null for text that is no note; a note outside the table says so.
export function noteName(token) {
  const note = /^([0-9])[ \t]*([drmfslt])[ \t]*([b#]?)$/i.exec(token);
  if (note === null) return null;
  const pitch = Number(note[1]) * 12 + semitones[note[2].toLowerCase()] +
                (note[3] === "#" ? 1 : note[3].toLowerCase() === "b" ? -1 : 0);
  const written = token.replace(/[ \t]/g, "");
  if (note[1] > "3" || pitch < 0 || pitch > 47) return `${written}: outside the notes 0d to 3t`;
  return `${written}: ${pitchName(pitch)}, ${Number(pitchHertz(pitch).toFixed(1))} Hz`;
}
