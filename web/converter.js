// The page's worker and the requests it owes an answer: conversions, the
// picture at another size, and a link's score to inflate.
import {takeLayout} from "./records.js";
import {score2wavWorker} from "./worker.js";

let workerUrl = null;
let format = null; // the WAV's format, as the core gives it, once it has answered

// Returns the WAV's format {sampleRate, headerSize, silence}, or null before
// the core has answered.
export const coreFormat = () => format;

// Returns the URL of the worker's script: the core and the worker's
// function, from their own text, in a Blob (a page opened from disk may
// start no worker from a file).
function workerScript() {
  if (workerUrl === null) {
    const source = "var createScore2wavCore = (" + window.score2wavCoreFactory + ")();\n(" +
                   score2wavWorker + ")();\n";
    workerUrl = URL.createObjectURL(new Blob([source], {type: "text/javascript"}));
  }
  return workerUrl;
}

// A worker and the requests it owes an answer. One that supersedes drops
// a conversion still running when the next comes (its caller gets null),
// by replacing the worker; one that does not answers each in turn.
export function createConverter(supersedes) {
  let worker = null;
  let nextId = 1;
  const waiting = new Map(); // request id -> resolve

  function start() {
    worker = new Worker(workerScript());
    worker.onmessage = (event) => {
      const message = event.data;
      if (message.format) format = Object.freeze(message.format);
      if (message.layout) takeLayout(message.layout);
      const resolve = waiting.get(message.id);
      waiting.delete(message.id);
      if (resolve) resolve(message);
    };
    worker.onerror = () => restart(); // the core failed beyond repair: a fresh one
  }

  function restart() {
    if (worker !== null) worker.terminate();
    for (const resolve of waiting.values()) resolve(null);
    waiting.clear();
    start();
  }

  function send(message, transfer) {
    if (worker === null) start();
    const id = nextId++;
    return new Promise((resolve) => {
      waiting.set(id, resolve);
      worker.postMessage(Object.assign({id: id}, message), transfer);
    });
  }

  return {
    // Converts score bytes; the answer is the worker's message, or null
    // when a later conversion superseded it or the worker failed. Owned
    // bytes (a whole buffer of their own) go to the worker as they are;
    // others are copied, so that the caller keeps them.
    convert(bytes, name, width, height, owned = false) {
      if (supersedes && waiting.size > 0) restart();
      const copy = owned ? bytes : bytes.slice();
      return send({kind: "convert", bytes: copy.buffer, name: name, width: width, height: height},
                  [copy.buffer]);
    },
    // Inflates a link's score (base64url text) in the worker, up to limit
    // bytes: resolves to {bytes} or {error}, or null if the worker failed.
    inflate(packed, limit) {
      return send({kind: "inflate", packed: packed, limit: limit}, []);
    },
    // Draws the last sound again at another size.
    picture(width, height) {
      return send({kind: "picture", width: width, height: height}, []);
    },
  };
}

