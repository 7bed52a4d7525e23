// window.score2wav: the console program's conversion, in the page. The
// conversion core is the program's own C++ compiled to WebAssembly
// (score2wav-core.js); this script feeds it score bytes and reads back the
// WAV, the console's exact text, and what happened as records.
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

  // The module's memory stops at 2 GiB, and the WAV is copied out of it once
  // more; a WAV larger than this fails as "Not enough memory." instead of
  // crashing the tab.
  const wavLimit = 512 * 1024 * 1024;
  const warningKinds = ["zeroLength", "negativeLength", "skipped", "hidden"];

  // Reads the conversion's results out of the module's memory into plain
  // data: typed arrays and numbers, which a worker can hand on.
  function readResult(module, result, scoreName) {
    const heap = module.HEAPU8; // after the conversion: memory may have grown
    const bytes = (address, size) => heap.slice(address, address + size);
    const doubles = (address, count) => new Float64Array(heap.buffer, address, count).slice();
    const status = module._score2wavStatus(result);
    const stdoutBytes = bytes(module._score2wavOut(result), module._score2wavOutSize(result));
    const chordFields = 10;
    const chordsKept = module._score2wavChordsKept(result);
    const warningFields = 7;
    const warningCount = module._score2wavWarningCount(result);
    const noteCount = module._score2wavNoteCount(result);
    return {
      scoreName: scoreName,
      status: status,
      wav: status === 0 ? bytes(module._score2wavWav(result), module._score2wavWavSize(result)) : null,
      stdoutBytes: stdoutBytes,
      stderrBytes: bytes(module._score2wavErr(result), module._score2wavErrSize(result)),
      outputName: module.UTF8ToString(module._score2wavOutputName(result)),
      chordTable: doubles(module._score2wavChords(result), chordsKept * chordFields),
      chordCount: module._score2wavChordCount(result),
      notes: new Int16Array(heap.buffer, module._score2wavNotes(result), noteCount).slice(),
      warningTable: doubles(module._score2wavWarnings(result), warningCount * warningFields),
      warningText: bytes(module._score2wavWarningText(result), module._score2wavWarningTextSize(result)),
      failureMessage: module.UTF8ToString(module._score2wavFailureMessage(result)),
      failureReason: module.UTF8ToString(module._score2wavFailureReason(result)),
    };
  }

  // Converts score bytes in the module; returns readResult's data, or null
  // if the module has no memory even to start.
  page.convertInCore = function (module, bytes, scoreName) {
    const name = new TextEncoder().encode(scoreName + "\0");
    const input = module._malloc(Math.max(bytes.length, 1));
    const nameAddress = module._malloc(name.length);
    let result = 0;
    try {
      if (input === 0 || nameAddress === 0) return null;
      module.HEAPU8.set(bytes, input);
      module.HEAPU8.set(name, nameAddress);
      result = module._score2wavConvert(input, bytes.length, nameAddress, wavLimit);
      return result === 0 ? null : readResult(module, result, scoreName);
    } finally {
      if (result !== 0) module._score2wavRelease(result);
      if (input !== 0) module._free(input);
      if (nameAddress !== 0) module._free(nameAddress);
    }
  };

  // The format of every WAV, as the core knows it.
  page.formatOf = function (module) {
    return Object.freeze({
      sampleRate: module._score2wavSampleRate(),
      headerSize: module._score2wavHeaderSize(),
      silence: module._score2wavSilence(),
    });
  };

  // Turns the core's data into what convert() promises: records as objects,
  // the console's text decoded (its bytes kept too).
  page.presentResult = function (data) {
    const decoder = new TextDecoder(); // console text is UTF-8 (other bytes show as U+FFFD)
    const chords = [];
    for (let i = 0; i < data.chordTable.length; i += 10) {
      const [firstSample, samples, offset, length, line, column, echoStart, echoLength, notesStart, noteCount] =
        data.chordTable.subarray(i, i + 10);
      chords.push({
        text: decoder.decode(data.stdoutBytes.subarray(echoStart, echoStart + echoLength)),
        start: firstSample,
        samples: samples,
        line: line,
        column: column,
        offset: offset,
        length: length,
        notes: notesStart < 0 ? null : Array.from(data.notes.subarray(notesStart, notesStart + noteCount)),
      });
    }
    const warningBytes = data.warningText;
    const warnings = [];
    for (let i = 0; i < data.warningTable.length; i += 7) {
      const [kind, offset, length, line, column, textStart, textLength] = data.warningTable.subarray(i, i + 7);
      warnings.push({
        kind: warningKinds[kind],
        line: line,
        column: column,
        offset: offset,
        length: length,
        text: decoder.decode(warningBytes.subarray(textStart, textStart + textLength)),
      });
    }
    return {
      wav: data.wav,
      stdout: decoder.decode(data.stdoutBytes),
      stderr: decoder.decode(data.stderrBytes),
      status: data.status,
      outputName: data.outputName,
      stdoutBytes: data.stdoutBytes,
      stderrBytes: data.stderrBytes,
      chords: chords,
      chordCount: data.chordCount,
      warnings: warnings,
      failure: data.status === 0 ? null : {message: data.failureMessage, reason: data.failureReason},
    };
  };

  // What the console program prints when memory runs out before it starts.
  function outOfMemory(scoreName) {
    const stdout = "Not enough memory.\n";
    const reason = 'score2wav: "' + scoreName + '": not enough memory to convert it';
    const encoder = new TextEncoder();
    return {
      wav: null, stdout: stdout, stderr: reason + "\n", status: 1, outputName: "",
      stdoutBytes: encoder.encode(stdout), stderrBytes: encoder.encode(reason + "\n"),
      chords: [], chordCount: 0, warnings: [], failure: {message: "Not enough memory.", reason: reason},
    };
  }

  let core = null; // the promise of the module, made on first use
  let format = null;

  function loadCore() {
    if (core === null) {
      core = window.createScore2wavCore().then((module) => {
        format = page.formatOf(module);
        return module;
      });
    }
    return core;
  }

  // Converts score bytes (a Uint8Array or ArrayBuffer) named scoreName.
  async function convert(scoreBytes, scoreName) {
    const bytes = scoreBytes instanceof Uint8Array ? scoreBytes : new Uint8Array(scoreBytes);
    const name = String(scoreName);
    const module = await loadCore();
    try {
      const data = page.convertInCore(module, bytes, name);
      return data === null ? outOfMemory(name) : page.presentResult(data);
    } catch (error) {
      // The module aborts when one of its small fixed allocations fails; a
      // fresh one takes its place.
      core = null;
      return outOfMemory(name);
    }
  }

  window.score2wav = Object.freeze({
    version: window.score2wavPageData.version,
    convert: convert,
    get format() {
      return format;
    },
  });
  loadCore();
})();
