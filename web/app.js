// The page: a score in, converted as it is typed or dropped; its echo,
// failure message and warnings shown as the console shows them; the sound
// pictured, played, and downloaded as the console program's own WAV file.
(function () {
  "use strict";
  const page = window.score2wavPage;
  const data = window.score2wavPageData;
  const element = (id) => document.getElementById(id);

  const typingPause = 300; // milliseconds without a key before converting
  const echoLinesShown = 5000; // the rest are counted

  const state = {
    name: "score.txt", // the score's file name, for messages and the download
    bytes: new Uint8Array(0), // exactly the bytes converted
    result: null, // the latest conversion
    chordSamples: 0, // samples per chord of its WAV
    shownChord: -1, // the echo line marked as playing
    ticket: 0, // the latest conversion asked for; older answers are dropped
    timer: 0,
  };

  const editor = page.createEditor(element("score"), element("gutter"));
  const picture = page.createPicture(element("picture"), seek);
  const player = page.createPlayer(showStopped);
  const encoder = new TextEncoder();

  // The samples a WAV file declares after its 44-byte header.
  function declaredSamples(wav) {
    const declared = new DataView(wav.buffer, wav.byteOffset).getUint32(40, true);
    return wav.subarray(44, 44 + Math.min(declared, wav.length - 44));
  }

  async function convertNow() {
    clearTimeout(state.timer);
    const ticket = ++state.ticket;
    const result = await window.score2wav.convert(state.bytes, state.name);
    if (ticket === state.ticket) show(result);
  }

  function convertSoon() {
    clearTimeout(state.timer);
    state.timer = setTimeout(convertNow, typingPause);
  }

  // Loads a score from bytes, as if the console program were given its file.
  function load(bytes, name) {
    state.bytes = bytes;
    state.name = name;
    element("score-name").textContent = name;
    editor.setText(new TextDecoder().decode(bytes));
    convertNow();
  }

  function show(result) {
    state.result = result;
    const echo = result.status === 0 ? result.stdout : result.stdout.replace(/[^\n]*\n$/, "");
    const lines = echo === "" ? [] : echo.slice(0, -1).split("\n");
    const samples = result.wav === null ? new Uint8Array(0) : declaredSamples(result.wav);
    showMessage(result, lines.length, samples.length / 8000);
    showWarnings(result.stderr);
    showEcho(lines);
    state.chordSamples = lines.length > 0 && result.wav ? (result.wav.length - 44) / lines.length : 0;
    player.load(samples);
    picture.show(samples);
    showStopped();
    element("download").disabled = result.wav === null;
  }

  function showMessage(result, chords, seconds) {
    const message = element("message");
    if (result.status !== 0) {
      const failure = result.stdout.split("\n").slice(-2)[0];
      const reason = result.stderr.split("\n").filter((line) => line.startsWith("score2wav: "));
      message.textContent = [failure].concat(reason).join("\n");
      message.className = "failure";
      return;
    }
    message.textContent = `${chords} chord${chords === 1 ? "" : "s"}, ${seconds.toFixed(1)} s of sound: ${result.outputName}`;
    message.className = "success";
  }

  // The byte length of a warning's quote, from its text: "(N characters)"
  // when it was cut, else its escapes undone.
  function quotedLength(quote, count) {
    if (count !== undefined) return Number(count);
    const raw = quote.replace(/\\x[0-9A-F]{2}|\\(["\\])/g, "_");
    return encoder.encode(raw).length;
  }

  function showWarnings(stderr) {
    const list = element("warnings");
    list.textContent = "";
    const prefix = state.name + ":";
    for (const line of stderr.split("\n")) {
      const where = line.startsWith(prefix) && /^(\d+):(\d+): warning: (.*)$/.exec(line.slice(prefix.length));
      if (!where) continue;
      const [, row, column, text] = where;
      const skipped = /^skipped "(.*?)(?:\.\.\.)?"(?: \((\d+) characters\))?$/.exec(text);
      const button = document.createElement("button");
      button.type = "button";
      button.className = "warning";
      button.textContent = `${row}:${column}: ${text}`;
      button.addEventListener("click", () => {
        const length = skipped ? quotedLength(skipped[1], skipped[2]) : 0;
        editor.selectBytes(state.bytes, Number(row), Number(column), length);
      });
      const item = document.createElement("li");
      item.append(button);
      list.append(item);
    }
    const hidden = stderr.split("\n").find((line) => line.startsWith(prefix + " warning: "));
    if (hidden) {
      const item = document.createElement("li");
      item.textContent = hidden.slice(prefix.length + " warning: ".length);
      list.append(item);
    }
    element("warnings-heading").hidden = list.children.length === 0;
  }

  function showEcho(lines) {
    const list = element("echo");
    list.textContent = "";
    state.shownChord = -1;
    const items = lines.slice(0, echoLinesShown).map((line) => {
      const item = document.createElement("li");
      item.textContent = line;
      return item;
    });
    list.append(...items);
    if (lines.length > echoLinesShown) {
      const more = document.createElement("li");
      more.className = "more";
      more.textContent = `… and ${lines.length - echoLinesShown} chords more`;
      list.append(more);
    }
  }

  // Marks the echo line of the chord at the playhead.
  function markChord(second) {
    const chord = state.chordSamples > 0 ? Math.floor((second * 8000) / state.chordSamples) : -1;
    if (chord === state.shownChord) return;
    const items = element("echo").children;
    if (state.shownChord >= 0 && state.shownChord < items.length) {
      items[state.shownChord].classList.remove("playing");
      items[state.shownChord].removeAttribute("aria-current");
    }
    state.shownChord = chord;
    if (chord >= 0 && chord < Math.min(items.length, echoLinesShown)) {
      items[chord].classList.add("playing");
      items[chord].setAttribute("aria-current", "true");
      items[chord].scrollIntoView({block: "nearest"});
    }
  }

  function showPosition(second) {
    picture.showPlayhead(second);
    const total = player.canPlay() ? " / " + player.duration().toFixed(1) + " s" : " s";
    element("time").textContent = second.toFixed(1) + total;
    markChord(second);
  }

  function follow() {
    if (!player.playing()) return;
    showPosition(player.position());
    requestAnimationFrame(follow);
  }

  function showStopped() {
    element("play").disabled = !player.canPlay();
    element("stop").disabled = true;
    showPosition(player.position());
  }

  function seek(second) {
    player.seek(second);
    showPosition(second);
  }

  function download() {
    const result = state.result;
    if (!result || result.wav === null) return;
    const link = document.createElement("a");
    link.href = URL.createObjectURL(new Blob([result.wav], {type: "audio/wav"}));
    link.download = result.outputName;
    document.body.append(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(link.href), 60000);
  }

  async function loadFile(file) {
    load(new Uint8Array(await file.arrayBuffer()), file.name);
  }

  function listen() {
    editor.onEdit(() => {
      state.bytes = encoder.encode(editor.text());
      convertSoon();
    });
    element("examples").addEventListener("change", (event) => {
      const example = data.examples[Number(event.target.value)];
      load(encoder.encode(example.text), example.name);
    });
    element("open").addEventListener("click", () => element("file").click());
    element("file").addEventListener("change", (event) => {
      if (event.target.files.length > 0) loadFile(event.target.files[0]);
      event.target.value = "";
    });
    element("play").addEventListener("click", () => {
      player.play();
      element("play").disabled = true;
      element("stop").disabled = false;
      requestAnimationFrame(follow);
    });
    element("stop").addEventListener("click", () => {
      player.stop();
      showStopped();
    });
    element("download").addEventListener("click", download);
    // A score dropped anywhere on the page, as on the console program.
    document.addEventListener("dragover", (event) => {
      event.preventDefault();
      document.body.classList.add("dropping");
    });
    document.addEventListener("dragleave", () => document.body.classList.remove("dropping"));
    document.addEventListener("drop", (event) => {
      event.preventDefault();
      document.body.classList.remove("dropping");
      const files = event.dataTransfer && event.dataTransfer.files;
      if (files && files.length > 0) loadFile(files[0]);
    });
  }

  function start() {
    element("version").textContent = "version " + data.version;
    data.examples.forEach((example, index) => {
      const option = document.createElement("option");
      option.value = index;
      option.textContent = example.name;
      element("examples").append(option);
    });
    listen();
    const first = data.examples.findIndex((example) => example.name === "ode_to_joy.txt");
    element("examples").value = String(Math.max(first, 0));
    const example = data.examples[Math.max(first, 0)];
    load(encoder.encode(example.text), example.name);
  }

  start();
})();
