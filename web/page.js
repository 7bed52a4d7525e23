// window.score2wav: the console program's conversion, in the page. The
// conversion core is the program's own C++ compiled to WebAssembly
// (score2wav-core.js); this script feeds it score bytes and reads back what
// the console program would write and print for them.
//
//   score2wav.convert(scoreBytes, scoreName)
//     -> Promise of {wav, stdout, stderr, status, outputName}
//   score2wav.version
//
// Scripts here are classic scripts, not modules: a page opened from disk
// (file://) may not load module scripts from other files.
(function () {
  "use strict";

  // The module's memory stops at 2 GiB, and the WAV is copied out of it once
  // more; a WAV larger than this fails as "Not enough memory." instead of
  // crashing the tab.
  const wavLimit = 512 * 1024 * 1024;

  let core = null; // the promise of the module, made on first use
  const encoder = new TextEncoder();
  const decoder = new TextDecoder(); // console text is UTF-8 (other bytes show as U+FFFD)

  function loadCore() {
    if (core === null) core = window.createScore2wavCore();
    return core;
  }

  // What the console program prints when memory runs out.
  function outOfMemory(scoreName) {
    return {
      wav: null,
      stdout: "Not enough memory.\n",
      stderr: 'score2wav: "' + scoreName + '": not enough memory to convert it\n',
      status: 1,
      outputName: "",
    };
  }

  // Copies bytes into the module's memory; returns the address, 0 if full.
  function place(module, bytes) {
    const address = module._malloc(Math.max(bytes.length, 1));
    if (address !== 0) module.HEAPU8.set(bytes, address);
    return address;
  }

  function readResult(module, result) {
    const heap = module.HEAPU8; // after the conversion: memory may have grown
    const slice = (address, size) => heap.subarray(address, address + size);
    const status = module._score2wavStatus(result);
    const wav = slice(module._score2wavWav(result), module._score2wavWavSize(result));
    return {
      wav: status === 0 ? wav.slice() : null,
      stdout: decoder.decode(slice(module._score2wavOut(result), module._score2wavOutSize(result))),
      stderr: decoder.decode(slice(module._score2wavErr(result), module._score2wavErrSize(result))),
      status: status,
      outputName: module.UTF8ToString(module._score2wavOutputName(result)),
    };
  }

  // Converts score bytes (a Uint8Array or ArrayBuffer) named scoreName.
  async function convert(scoreBytes, scoreName) {
    const bytes = scoreBytes instanceof Uint8Array ? scoreBytes : new Uint8Array(scoreBytes);
    const name = String(scoreName);
    const module = await loadCore();
    let input = 0;
    let nameAddress = 0;
    let result = 0;
    try {
      input = place(module, bytes);
      nameAddress = place(module, encoder.encode(name + "\0"));
      if (input === 0 || nameAddress === 0) return outOfMemory(name);
      result = module._score2wavConvert(input, bytes.length, nameAddress, wavLimit);
      return result === 0 ? outOfMemory(name) : readResult(module, result);
    } catch (error) {
      // The module aborts when an allocation fails; a fresh one takes its place.
      core = null;
      input = nameAddress = result = 0;
      return outOfMemory(name);
    } finally {
      if (result !== 0) module._score2wavRelease(result);
      if (input !== 0) module._free(input);
      if (nameAddress !== 0) module._free(nameAddress);
    }
  }

  window.score2wav = Object.freeze({
    version: window.score2wavPageData.version,
    convert: convert,
  });
})();
