// The picture of the sound, as the worker draws it: the waveform overview
// above a piano roll (time across, the 48 pitches up, a bar a note). Here it
// is only painted, with the octave labels, the chord at the playhead and
// the playhead itself on top. Clicking the picture, or the arrow keys on
// it, seek; clicking a note also names its chord.
import {pitchName} from "./note_names.js";

const waveShare = 0.3; // of the height, the waveform's (as the worker draws it)
const pitches = 48;
const octaveNames = ["0d", "1d", "2d", "3d"];

// onSeek(second) when the user seeks; onNote(chordIndex) when a click
// falls on a note of a chord.
export function createPicture(canvas, onSeek, onNote) {
  const context = canvas.getContext("2d");
  let base = null; // the worker's bitmap
  let sound = {seconds: 0, sampleRate: 1, chordAt: () => -1, hasNote: () => false, spanOf: () => null};
  let seconds = 0;

  // The canvas's size in device pixels, as the worker should draw it.
  function size() {
    const ratio = window.devicePixelRatio || 1;
    return {width: Math.max(1, Math.round(canvas.clientWidth * ratio)),
            height: Math.max(1, Math.round(canvas.clientHeight * ratio))};
  }

  function rollTop() {
    return Math.round(canvas.height * waveShare) + 1;
  }

  function paint() {
    const {width, height} = canvas;
    context.fillStyle = "#000";
    context.fillRect(0, 0, width, height);
    if (base !== null) context.drawImage(base, 0, 0, width, height);
    const ratio = window.devicePixelRatio || 1;
    const top = rollTop();
    const rowHeight = (height - top) / pitches;
    context.font = `${Math.round(10 * ratio)}px ui-monospace, monospace`;
    context.fillStyle = "#bbbbbb";
    context.textBaseline = "bottom";
    // Each octave's d, with the letter name a musician reads (0d is A2).
    octaveNames.forEach((name, octave) =>
      context.fillText(`${name} ${pitchName(octave * 12)}`, 2 * ratio, height - octave * 12 * rowHeight));
    context.textBaseline = "top";
    context.fillText(`3t ${pitchName(pitches - 1)}`, 2 * ratio, top);
    if (sound.seconds <= 0) return;
    const span = sound.spanOf(Math.floor(seconds * sound.sampleRate));
    if (span !== null) {
      const left = (span.firstSample / sound.totalSamples) * width;
      const right = ((span.firstSample + span.sampleCount) / sound.totalSamples) * width;
      context.fillStyle = "rgba(255, 255, 255, 0.25)";
      context.fillRect(left, top, Math.max(1, right - left), height - top);
    }
    const x = Math.round((seconds / sound.seconds) * (width - 1));
    context.fillStyle = "#ffffff";
    context.fillRect(x - 1, 0, 3, height);
  }

  function showPlayhead(at) {
    seconds = Math.max(0, Math.min(at, sound.seconds));
    paint();
    canvas.setAttribute("aria-valuenow", seconds.toFixed(1));
    canvas.setAttribute("aria-valuetext", clockTime(seconds));
  }

  canvas.addEventListener("click", (event) => {
    if (sound.seconds <= 0) return;
    const box = canvas.getBoundingClientRect();
    const second = ((event.clientX - box.left) / box.width) * sound.seconds;
    onSeek(second);
    const y = ((event.clientY - box.top) / box.height) * canvas.height;
    const top = rollTop();
    if (y < top) return;
    const pitch = pitches - 1 - Math.floor(((y - top) / (canvas.height - top)) * pitches);
    const chord = sound.chordAt(Math.floor(second * sound.sampleRate));
    if (chord >= 0 && sound.hasNote(chord, pitch)) onNote(chord);
  });
  canvas.addEventListener("keydown", (event) => {
    const moves = {ArrowLeft: -1, ArrowRight: 1, PageDown: -10, PageUp: 10, Home: -Infinity, End: Infinity};
    if (!(event.key in moves) || sound.seconds <= 0) return;
    event.preventDefault();
    onSeek(Math.max(0, Math.min(sound.seconds, seconds + moves[event.key])));
  });

  return {
    size: size,
    // Shows a new picture (an ImageBitmap, or null) of a sound: {seconds,
    // sampleRate, totalSamples, chordAt(sample), hasNote(chord, pitch),
    // spanOf(sample)}.
    show(bitmap, newSound) {
      const {width, height} = size();
      canvas.width = width;
      canvas.height = height;
      base = bitmap;
      sound = newSound;
      seconds = 0;
      canvas.setAttribute("aria-valuemax", sound.seconds.toFixed(1));
      showPlayhead(0);
    },
    // Takes a picture redrawn at the canvas's new size.
    redrawn(bitmap) {
      const {width, height} = size();
      canvas.width = width;
      canvas.height = height;
      base = bitmap;
      paint();
    },
    showPlayhead: showPlayhead,
  };
}

// Returns a time as m:ss, or m:ss.t with tenths (cut, not rounded, so
// that a sound never reads longer than it is), which lengths under a
// minute need: a 0.6 s tune is 0:00.6, not 0:00.
export function clockTime(second, tenths = second < 60) {
  const tens = Math.floor(second * 10 + 1e-9); // 0.7 * 10 is 7.000000000000001, 0.3 * 10 exactly 3
  const whole = Math.floor(tens / 10);
  const clock = `${Math.floor(whole / 60)}:${String(whole % 60).padStart(2, "0")}`;
  return tenths ? `${clock}.${tens % 10}` : clock;
}
