// The page's worker: converts scores with the WebAssembly core and draws
// the picture of the sound, so that work which grows with the score never
// holds up the page. The page starts it from this function's own text and
// the core's (a Blob URL), which works from disk as from a web host; so the
// function uses nothing from outside itself but the core.
//
// Messages in:  {kind: "convert", id, bytes, name, width, height}
//               {kind: "picture", id, width, height}   (the last sound again)
//               {kind: "inflate", id, packed, limit}   (a link's score: base64url of deflate-raw)
// Messages out: {kind: "result", id, data, format, layout, picture, roll, milliseconds, convertedAt}
//               {kind: "inflated", id, bytes} or {kind: "inflated", id, error: "cut" | "large"}
//               {kind: "picture", id, picture, roll}
// (roll: {width, rows}, which pixel columns of each pitch's row hold a note)
export function score2wavWorker() {
  "use strict";

  // The module's memory stops at 2 GiB, and the WAV is copied out of it once
  // more; a WAV larger than this fails as "Not enough memory." instead.
  const wavLimit = 512 * 1024 * 1024;
  const waveShare = 0.3; // of the picture's height, for the waveform overview
  const overviewColumns = 8192; // the waveform's ranges kept, enough for any screen
  const pitches = 48;
  const colours = {background: "#000000", wave: "#78c8ff", note: "#ffb347", octave: "#3a3a3a", split: "#555555"};

  let core = null; // the promise of the module
  let format = null;
  let layout = null; // the records' layout, as the core publishes it
  let last = null; // the last sound's shape, for pictures at another size

  function loadCore() {
    if (core === null) {
      core = createScore2wavCore().then((module) => {
        format = {
          sampleRate: module._score2wavSampleRate(),
          headerSize: module._score2wavHeaderSize(),
          silence: module._score2wavSilence(),
        };
        layout = JSON.parse(module.UTF8ToString(module._score2wavLayout()));
        return module;
      });
    }
    return core;
  }

  // Reads a conversion's results out of the module's memory into typed
  // arrays of their own, which can be handed to the page without a copy.
  function readResult(module, result) {
    const heap = module.HEAPU8; // after the conversion: memory may have grown
    const bytes = (address, size) => heap.slice(address, address + size);
    const doubles = (address, count) => new Float64Array(heap.buffer, address, count).slice();
    const status = module._score2wavStatus(result);
    return {
      status: status,
      wav: status === 0 ? bytes(module._score2wavWav(result), module._score2wavWavSize(result)) : null,
      stdoutBytes: bytes(module._score2wavOut(result), module._score2wavOutSize(result)),
      stderrBytes: bytes(module._score2wavErr(result), module._score2wavErrSize(result)),
      outputName: module.UTF8ToString(module._score2wavOutputName(result)),
      chordTable: doubles(module._score2wavChords(result), module._score2wavChordsKept(result) * layout.chord.length),
      chordCount: module._score2wavChordCount(result),
      notes: new Int16Array(heap.buffer, module._score2wavNotes(result), module._score2wavNoteCount(result)).slice(),
      warningTable: doubles(module._score2wavWarnings(result), module._score2wavWarningCount(result) * layout.warning.length),
      warningText: bytes(module._score2wavWarningText(result), module._score2wavWarningTextSize(result)),
      failureMessage: module.UTF8ToString(module._score2wavFailureMessage(result)),
      failureReason: module.UTF8ToString(module._score2wavFailureReason(result)),
    };
  }

  // Returns the address of a copy of bytes in the module's memory (0 when
  // it has no room); the caller frees it.
  function copyIn(module, bytes) {
    const address = module._malloc(Math.max(bytes.length, 1));
    if (address !== 0) module.HEAPU8.set(bytes, address);
    return address;
  }

  // Calls call(nameAddress, ...addresses) with the score's name and the
  // byte arrays copied into the module, and returns readResult's data of
  // the results it returns; null if the module has no memory for them.
  function withCopies(module, scoreName, arrays, call) {
    const addresses = [new TextEncoder().encode(scoreName + "\0")].concat(arrays).map((bytes) => copyIn(module, bytes));
    let result = 0;
    try {
      if (addresses.includes(0)) return null;
      result = call(...addresses);
      return result === 0 ? null : readResult(module, result);
    } finally {
      if (result !== 0) module._score2wavRelease(result);
      for (const address of addresses) if (address !== 0) module._free(address);
    }
  }

  // Returns the core's own report of a conversion that found no memory (from
  // a fresh module if the last one aborted), or null if even that fails.
  async function outOfMemory(scoreName) {
    try {
      const module = await loadCore();
      return withCopies(module, scoreName, [], (name) => module._score2wavOutOfMemory(name));
    } catch (error) {
      core = null;
      return null;
    }
  }

  // Converts score bytes; returns readResult's data, or null if the module
  // has no memory even to start.
  function convert(module, bytes, scoreName) {
    return withCopies(module, scoreName, [bytes],
                      (name, input) => module._score2wavConvert(input, bytes.length, name, wavLimit));
  }

  // Returns the range of the samples in each of up to overviewColumns
  // stretches of the sound: the waveform overview at its finest.
  function overviewOf(samples) {
    const columns = Math.min(samples.length, overviewColumns);
    const low = new Uint8Array(columns).fill(255);
    const high = new Uint8Array(columns);
    for (let column = 0; column < columns; ++column) {
      const end = Math.floor(((column + 1) * samples.length) / columns);
      let min = 255;
      let max = 0;
      for (let i = Math.floor((column * samples.length) / columns); i < end; ++i) {
        const sample = samples[i];
        if (sample < min) min = sample;
        if (sample > max) max = sample;
      }
      low[column] = min;
      high[column] = max;
    }
    return {low, high};
  }

  // Draws the range of each pixel column's samples from the overview.
  function drawWave(context, overview, width, height) {
    context.fillStyle = colours.wave;
    const columns = overview.low.length;
    for (let x = 0; x < width && columns > 0; ++x) {
      const first = Math.floor((x * columns) / width);
      const end = Math.max(first + 1, Math.floor(((x + 1) * columns) / width));
      let low = 255;
      let high = 0;
      for (let column = first; column < end; ++column) {
        low = Math.min(low, overview.low[column]);
        high = Math.max(high, overview.high[column]);
      }
      const top = Math.floor(((255 - high) / 255) * (height - 1));
      const bottom = Math.ceil(((255 - low) / 255) * (height - 1));
      context.fillRect(x, top, 1, bottom - top + 1);
    }
  }

  // Returns, for each of the 48 pitches, which pixel columns one of its
  // notes sounds in (a byte a column).
  function noteColumns(data, totalSamples, width) {
    const rows = new Uint8Array(pitches * width);
    const table = data.chordTable;
    const fields = layout.chord.length;
    const [start, samples, notesAt, countAt] = ["firstSample", "sampleCount", "notesStart", "noteCount"].map((name) =>
      layout.chord.indexOf(name));
    const seen = new Uint8Array(pitches);
    for (let i = 0; i < table.length; i += fields) {
      const notesStart = table[i + notesAt];
      const noteCount = table[i + countAt];
      if (notesStart < 0 || noteCount === 0) continue;
      const first = Math.floor((table[i + start] / totalSamples) * width);
      const end = Math.max(first + 1, Math.ceil(((table[i + start] + table[i + samples]) / totalSamples) * width));
      seen.fill(0);
      for (let n = notesStart; n < notesStart + noteCount; ++n) seen[data.notes[n]] = 1;
      for (let pitch = 0; pitch < pitches; ++pitch) {
        if (seen[pitch]) rows.fill(1, pitch * width + first, pitch * width + Math.min(end, width));
      }
    }
    return rows;
  }

  // Draws the piano roll: a row a pitch, 0d at the bottom, a line under
  // each octave, and a bar wherever a note of the pitch sounds.
  function drawRoll(context, rows, top, width, height) {
    const rowHeight = height / pitches;
    context.fillStyle = colours.octave;
    for (let octave = 1; octave < 4; ++octave) {
      context.fillRect(0, Math.round(top + height - octave * 12 * rowHeight), width, 1);
    }
    context.fillStyle = colours.note;
    const barHeight = Math.max(1, Math.floor(rowHeight) - 1);
    for (let pitch = 0; pitch < pitches; ++pitch) {
      const y = Math.round(top + height - (pitch + 1) * rowHeight);
      for (let x = 0; x < width; ) {
        if (!rows[pitch * width + x]) {
          ++x;
          continue;
        }
        let end = x;
        while (end < width && rows[pitch * width + end]) ++end;
        context.fillRect(x, y, end - x, barHeight);
        x = end;
      }
    }
  }

  // Returns what the picture needs of a conversion, kept apart from the
  // data the page is handed: the waveform overview and the chords.
  function shapeOf(data) {
    const samples = data.wav === null ? new Uint8Array(0) : data.wav.subarray(format.headerSize);
    return {overview: overviewOf(samples), totalSamples: samples.length,
            chordTable: data.chordTable.slice(), notes: data.notes.slice()};
  }

  // Draws the picture of a sound's shape at a size in device pixels;
  // returns it with the roll's rows ({picture: null} for no size).
  function drawPicture(shape, width, height) {
    if (!(width > 0 && height > 0) || typeof OffscreenCanvas === "undefined") return {picture: null, roll: null};
    const rows = shape.totalSamples === 0 ? new Uint8Array(pitches * width) : noteColumns(shape, shape.totalSamples, width);
    const canvas = new OffscreenCanvas(width, height);
    const context = canvas.getContext("2d");
    context.fillStyle = colours.background;
    context.fillRect(0, 0, width, height);
    const waveHeight = Math.round(height * waveShare);
    drawWave(context, shape.overview, width, waveHeight);
    context.fillStyle = colours.split;
    context.fillRect(0, waveHeight, width, 1);
    drawRoll(context, rows, waveHeight + 1, width, height - waveHeight - 1);
    return {picture: canvas.transferToImageBitmap(), roll: {width: width, rows: rows}};
  }

  // Lists the buffers a message may hand over rather than copy.
  function buffersOf(data) {
    const arrays = [data.wav, data.stdoutBytes, data.stderrBytes, data.chordTable, data.notes,
                    data.warningTable, data.warningText];
    return arrays.filter((array) => array !== null).map((array) => array.buffer);
  }

  // Returns the bytes of base64url text (RFC 4648, without padding).
  function fromBase64url(text) {
    const binary = atob(text.replace(/-/g, "+").replace(/_/g, "/"));
    const bytes = new Uint8Array(binary.length);
    for (let i = 0; i < binary.length; ++i) bytes[i] = binary.charCodeAt(i);
    return bytes;
  }

  // Resolves to {bytes} of a link's score, inflated a piece at a time and
  // given up as {error: "large"} once it passes limit bytes; {error: "cut"}
  // for text that is no whole compressed score.
  async function inflate(packedText, limit) {
    const pieces = [];
    let total = 0;
    try {
      const packed = fromBase64url(packedText);
      const reader = new Blob([packed]).stream().pipeThrough(new DecompressionStream("deflate-raw")).getReader();
      for (;;) {
        const {done, value} = await reader.read();
        if (done) break;
        total += value.length;
        if (total > limit) {
          reader.cancel().catch(() => {});
          return {error: "large"};
        }
        pieces.push(value);
      }
    } catch (error) {
      return {error: "cut"};
    }
    const bytes = new Uint8Array(total);
    let at = 0;
    for (const piece of pieces) {
      bytes.set(piece, at);
      at += piece.length;
    }
    return {bytes};
  }

  self.onmessage = async (event) => {
    const request = event.data;
    if (request.kind === "inflate") {
      const answer = await inflate(request.packed, request.limit);
      self.postMessage(Object.assign({kind: "inflated", id: request.id}, answer), answer.bytes ? [answer.bytes.buffer] : []);
      return;
    }
    const module = await loadCore();
    if (request.kind === "picture") {
      const drawn = last === null ? {picture: null, roll: null} : drawPicture(last, request.width, request.height);
      self.postMessage(Object.assign({kind: "picture", id: request.id}, drawn), drawn.picture ? [drawn.picture] : []);
      return;
    }
    const started = performance.now();
    let data = null;
    try {
      data = convert(module, new Uint8Array(request.bytes), request.name);
    } catch (error) {
      core = null; // the module aborted on a small fixed allocation: a fresh one next time
    }
    if (data === null) data = await outOfMemory(request.name);
    const milliseconds = performance.now() - started;
    const convertedAt = performance.timeOrigin + performance.now(); // the same clock as the page's
    // A conversion for a script asks for no picture: its sound need not be
    // looked over at all.
    const pictured = data !== null && request.width > 0 && request.height > 0;
    last = pictured ? shapeOf(data) : null;
    const drawn = pictured ? drawPicture(last, request.width, request.height) : {picture: null, roll: null};
    const transfer = data === null ? [] : buffersOf(data);
    if (drawn.picture !== null) transfer.push(drawn.picture);
    self.postMessage(Object.assign({kind: "result", id: request.id, data: data, format: format, layout: layout,
                                    milliseconds: milliseconds, convertedAt: convertedAt}, drawn), transfer);
  };
}
