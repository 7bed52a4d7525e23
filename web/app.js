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
    textIndex: null, // maps the bytes' offsets to the editor's text
    result: null, // the latest conversion
    shownChord: -1, // the echo line marked as playing
    ticket: 0, // the latest conversion asked for; older answers are dropped
    timer: 0,
  };

  const editor = page.createEditor(element("score"), element("gutter"));
  const picture = page.createPicture(element("picture"), seek);
  const player = page.createPlayer(showStopped);
  const encoder = new TextEncoder();

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
    state.textIndex = null;
    state.name = name;
    element("score-name").textContent = name;
    editor.setText(new TextDecoder().decode(bytes));
    convertNow();
  }

  function show(result) {
    state.result = result;
    const format = window.score2wav.format;
    const samples = result.wav === null ? new Uint8Array(0) : result.wav.subarray(format.headerSize);
    showMessage(result, samples.length / format.sampleRate);
    showWarnings(result.warnings);
    showEcho(result.chords.map((chord) => chord.text), result.chordCount);
    player.load(samples, format);
    picture.show(samples, format);
    showStopped();
    element("download").disabled = result.wav === null;
  }

  function showMessage(result, seconds) {
    const message = element("message");
    message.dataset.score = state.name; // which score the message is about
    if (result.failure !== null) {
      message.textContent = result.failure.message + "\n" + result.failure.reason;
      message.className = "failure";
      return;
    }
    const chords = result.chordCount;
    message.textContent = `${chords} chord${chords === 1 ? "" : "s"}, ${seconds.toFixed(1)} s of sound: ${result.outputName}`;
    message.className = "success";
  }

  // Selects the stretch of the score a record names, in the editor.
  function selectInScore(offset, length) {
    if (state.textIndex === null) state.textIndex = page.offsetMap(state.bytes);
    editor.select(state.textIndex(offset), state.textIndex(offset + length));
  }

  function showWarnings(warnings) {
    const list = element("warnings");
    list.textContent = "";
    for (const warning of warnings) {
      const item = document.createElement("li");
      if (warning.line === 0) {
        item.textContent = warning.text; // how many more were not shown
      } else {
        const button = document.createElement("button");
        button.type = "button";
        button.className = "warning";
        button.textContent = `${warning.line}:${warning.column}: ${warning.text}`;
        button.addEventListener("click", () => selectInScore(warning.offset, warning.length));
        item.append(button);
      }
      list.append(item);
    }
    element("warnings-heading").hidden = list.children.length === 0;
  }

  function showEcho(lines, chordCount) {
    const list = element("echo");
    list.textContent = "";
    state.shownChord = -1;
    const items = lines.slice(0, echoLinesShown).map((line) => {
      const item = document.createElement("li");
      item.textContent = line;
      return item;
    });
    list.append(...items);
    if (chordCount > items.length) {
      const more = document.createElement("li");
      more.className = "more";
      more.textContent = `… and ${chordCount - items.length} chords more`;
      list.append(more);
    }
  }

  // Returns the index of the chord whose samples hold sample, or -1.
  function chordAt(sample) {
    const chords = state.result === null ? [] : state.result.chords;
    let low = 0;
    let high = chords.length - 1;
    while (low <= high) {
      const middle = (low + high) >> 1;
      if (sample < chords[middle].start) high = middle - 1;
      else if (sample >= chords[middle].start + chords[middle].samples) low = middle + 1;
      else return middle;
    }
    return -1;
  }

  // Marks the echo line of the chord at the playhead.
  function markChord(second) {
    const chord = chordAt(Math.floor(second * window.score2wav.format.sampleRate));
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
      state.textIndex = null;
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
