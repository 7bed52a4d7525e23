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
//
// Scripts here are classic scripts, not modules: a page opened from disk
// (file://) may not load module scripts from other files.
(function () {
  "use strict";
  const page = (window.score2wavPage = window.score2wavPage || {});
  let workerUrl = null;
  let format = null;
  let layout = null; // the records' layout, as the core publishes it: field names in order
  let fields = null; // of each kind of record: where each field stands by name, and count

  // Takes the layout the core publishes, once.
  function takeLayout(published) {
    layout = published;
    fields = {};
    for (const kind of ["chord", "warning"]) {
      fields[kind] = {count: layout[kind].length};
      layout[kind].forEach((name, index) => (fields[kind][name] = index));
    }
  }

  // Returns where each field of a kind of record ("chord" or "warning")
  // stands, by name, and how many there are (count).
  page.fieldsOf = (kind) => fields[kind];

  // Returns the URL of the worker's script: the core and the worker's
  // function, from their own text, in a Blob (a page opened from disk may
  // start no worker from a file).
  function workerScript() {
    if (workerUrl === null) {
      const source = "var createScore2wavCore = (" + window.score2wavCoreFactory + ")();\n(" +
                     window.score2wavWorker + ")();\n";
      workerUrl = URL.createObjectURL(new Blob([source], {type: "text/javascript"}));
    }
    return workerUrl;
  }

  // A worker and the requests it owes an answer. One that supersedes drops
  // a conversion still running when the next comes (its caller gets null),
  // by replacing the worker; one that does not answers each in turn.
  page.createConverter = function (supersedes) {
    let worker = null;
    let nextId = 1;
    const waiting = new Map(); // request id -> resolve

    function start() {
      worker = new Worker(workerScript());
      worker.onmessage = (event) => {
        const message = event.data;
        if (message.format) format = Object.freeze(message.format);
        if (message.layout && layout === null) takeLayout(message.layout);
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
  };

  // Returns the chords of a worker's data as records.
  page.chordsOf = function (data, first, end) {
    const field = page.fieldsOf("chord");
    if (end <= first) return [];
    // The echo lines in one decoding (console text is UTF-8, other bytes
    // show as U+FFFD; a line's end ends any sequence, so each line reads as
    // if decoded alone).
    const echoFrom = data.chordTable[first * field.count + field.echoStart];
    const last = (end - 1) * field.count;
    const echoEnd = data.chordTable[last + field.echoStart] + data.chordTable[last + field.echoLength];
    const lines = new TextDecoder().decode(data.stdoutBytes.subarray(echoFrom, echoEnd)).split("\n");
    const chords = [];
    for (let i = first * field.count; i < end * field.count; i += field.count) {
      const value = (name) => data.chordTable[i + field[name]];
      const notesStart = value("notesStart");
      chords.push({
        text: lines[chords.length],
        start: value("start"), samples: value("samples"), line: value("line"), column: value("column"),
        offset: value("offset"), length: value("length"),
        notes: notesStart < 0 ? null : Array.from(data.notes.subarray(notesStart, notesStart + value("noteCount"))),
      });
    }
    return chords;
  };

  // Returns the warnings of a worker's data as records.
  page.warningsOf = function (data) {
    const decoder = new TextDecoder();
    const field = page.fieldsOf("warning");
    const warnings = [];
    for (let i = 0; i < data.warningTable.length; i += field.count) {
      const value = (name) => data.warningTable[i + field[name]];
      const textStart = value("textStart");
      const text = decoder.decode(data.warningText.subarray(textStart, textStart + value("textLength")));
      warnings.push({kind: layout.warningKinds[value("kind")], line: value("line"), column: value("column"),
                     offset: value("offset"), length: value("length"), text});
    }
    return warnings;
  };

  // Turns a worker's data into what convert() promises.
  page.presentResult = function (data) {
    const decoder = new TextDecoder();
    return {
      wav: data.wav,
      stdout: decoder.decode(data.stdoutBytes),
      stderr: decoder.decode(data.stderrBytes),
      status: data.status,
      outputName: data.outputName,
      stdoutBytes: data.stdoutBytes,
      stderrBytes: data.stderrBytes,
      chords: page.chordsOf(data, 0, data.chordTable.length / page.fieldsOf("chord").count),
      chordCount: data.chordCount,
      warnings: page.warningsOf(data),
      failure: data.status === 0 ? null : {message: data.failureMessage, reason: data.failureReason},
    };
  };

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
    if (scripts === null) scripts = page.createConverter(false);
    const answer = await scripts.convert(bytes, name, 0, 0, true);
    if (answer === null || answer.data === null) throw new Error("score2wav.convert: the page's converter failed");
    return page.presentResult(answer.data);
  }

  window.score2wav = Object.freeze({
    version: window.score2wavPageData.version,
    convert: convert,
    get format() {
      return format;
    },
  });
})();
