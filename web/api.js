// window.score2wav: the console program's conversion, in the page. The
// conversion core is the program's own C++ compiled to WebAssembly
// (score2wav-core.js); it runs in a worker (worker.js), which feeds it score
// bytes and hands back the WAV, the console's exact text, what happened as
// records, and the picture of the sound.
//
//   score2wav.convert(scoreBytes, scoreName) -> Promise of
//     {wav, stdout, stderr, status, outputName, stdoutBytes, stderrBytes,
//      chords, chordCount, warnings, failure}
//   score2wav.format   {sampleRate, headerSize, silence}, once the core is loaded
//   score2wav.version
import {coreFormat, createConverter} from "./converter.js";
import {presentResult} from "./records.js";

let scripts = null; // the converter for scripts, made on first use

// The largest score the page takes: its bytes, the WAV and their copies
// must fit the core's 2 GiB of memory.
const largestScore = 1024 * 1024 * 1024;

// The engine's own checks of what an object is, which no property of it
// can fake, and which hold for arrays from other frames too.
const typedArray = Object.getPrototypeOf(Uint8Array.prototype);
const typedArrayTag = Object.getOwnPropertyDescriptor(typedArray, Symbol.toStringTag).get;
const typedArrayLength = Object.getOwnPropertyDescriptor(typedArray, "length").get;
const typedArrayBuffer = Object.getOwnPropertyDescriptor(typedArray, "buffer").get;
const typedArrayOffset = Object.getOwnPropertyDescriptor(typedArray, "byteOffset").get;
const typedArraySet = typedArray.set;
const bufferLength = Object.getOwnPropertyDescriptor(ArrayBuffer.prototype, "byteLength").get;
const isUint8Array = (value) => typedArrayTag.call(value) === "Uint8Array";
// Returns an ArrayBuffer's size, or -1 for anything else.
function arrayBufferSize(value) {
  try {
    return bufferLength.call(value);
  } catch (error) {
    return -1;
  }
}

// Converts score bytes (a Uint8Array or ArrayBuffer) named scoreName (a
// string without NUL). Anything else is refused before a byte is copied:
// a TypeError for the wrong kind, a RangeError for a score too large.
async function convert(scoreBytes, scoreName) {
  const array = isUint8Array(scoreBytes);
  const size = array ? typedArrayLength.call(scoreBytes) : arrayBufferSize(scoreBytes);
  if (size < 0) throw new TypeError("score2wav.convert: the score must be a Uint8Array or an ArrayBuffer");
  if (typeof scoreName !== "string" || scoreName.includes("\0")) {
    throw new TypeError("score2wav.convert: the name must be a string without NUL characters");
  }
  if (size > largestScore) {
    throw new RangeError(`score2wav.convert: a score of ${size} bytes is larger than the page can hold (${largestScore})`);
  }
  // A copy of the bytes the engine says the object holds, made through the
  // built-in getters and constructor: a subclass's own buffer getter or
  // Symbol.species cannot feed it other bytes or another size.
  const view = array
    ? new Uint8Array(typedArrayBuffer.call(scoreBytes), typedArrayOffset.call(scoreBytes), size)
    : new Uint8Array(scoreBytes, 0, size);
  const bytes = new Uint8Array(size);
  typedArraySet.call(bytes, view);
  const name = scoreName;
  if (scripts === null) scripts = createConverter(false);
  const answer = await scripts.convert(bytes, name, 0, 0, true);
  if (answer === null || answer.data === null) throw new Error("score2wav.convert: the page's converter failed");
  return presentResult(answer.data);
}

// Sets window.score2wav, for scripts that convert with the page.
export function publishApi() {
  window.score2wav = Object.freeze({
    version: window.score2wavPageData.version,
    convert: convert,
    get format() {
      return coreFormat();
    },
  });
}
