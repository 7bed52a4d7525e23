// The page: a score in, converted in the worker as it is typed or dropped;
// its chords, failure message and warnings shown as the console shows them,
// its skipped text marked in the editor; the sound pictured with its notes,
// played, and downloaded as the console program's own WAV file. The text
// and its name are kept across reloads, and a load can be taken back.
(function () {
  "use strict";
  const page = window.score2wavPage;
  const data = window.score2wavPageData;
  const element = (id) => document.getElementById(id);

  const typingPause = 300; // milliseconds without a key before converting
  const savePause = 500; // and before keeping the text across reloads
  const storageKey = "score2wav.score";
  const chordFields = 10;

  const state = {
    name: "score.txt", // the score's file name, for messages and the download
    origin: "example", // where the name came from: example, file, user or untitled
    bytes: null, // the bytes of a loaded file while its text stands; else the text's UTF-8
    edits: 0, // edits so far, to tell a conversion of older text
    data: null, // the latest conversion's data
    format: null,
    roll: null, // the piano roll as drawn: {width, rows}, a byte a pixel column of each pitch
    textIndex: null, // maps the converted bytes' offsets to the editor's text
    shownChord: -1, // the chord marked as playing
    timer: 0,
    saveTimer: 0,
  };

  const editor = page.createEditor({
    textarea: element("score"), gutterLines: element("gutter-lines"),
    marks: element("score-marks"), highlights: element("score-highlights"),
  });
  const picture = page.createPicture(element("picture"), seek, selectChord);
  const player = page.createPlayer(showStopped);
  const converter = page.createConverter(true);
  const chordList = createChordList(element("echo-view"), element("echo"));
  const encoder = new TextEncoder();

  // The current score's bytes: the loaded file's own, or the text's UTF-8.
  function scoreBytes() {
    if (state.bytes === null) state.bytes = encoder.encode(editor.text());
    return state.bytes;
  }

  async function convertNow() {
    clearTimeout(state.timer);
    const edits = state.edits;
    const bytes = scoreBytes();
    const {width, height} = picture.size();
    const answer = await converter.convert(bytes, state.name, width, height);
    if (answer === null) return; // a later conversion took its place
    show(answer, bytes, edits === state.edits);
  }

  function convertSoon() {
    clearTimeout(state.timer);
    state.timer = setTimeout(convertNow, typingPause);
  }

  // Keeps the text and its name for the next visit.
  function saveSoon() {
    clearTimeout(state.saveTimer);
    state.saveTimer = setTimeout(() => {
      try {
        localStorage.setItem(storageKey, JSON.stringify({text: editor.text(), name: state.name, origin: state.origin}));
      } catch (error) {
        // No storage here (or too little for this text): the page works on without it.
      }
    }, savePause);
  }

  function setName(name, origin) {
    state.name = name;
    state.origin = origin;
    element("score-name").value = name;
    document.title = name + " – score2wav";
  }

  // Loads a score from bytes, as if the console program were given its file;
  // Ctrl+Z takes it back, with the name it replaced.
  function load(bytes, name, origin) {
    const before = {name: state.name, origin: state.origin};
    // The editor shows the text the converter reads: a UTF-16 file's text,
    // a marked UTF-8 file's text without its mark.
    editor.load(new TextDecoder("utf-8", {ignoreBOM: true}).decode(page.scoreText(bytes)), () => {
      setName(before.name, before.origin);
      state.bytes = null;
      ++state.edits;
      saveSoon();
      convertNow();
    });
    setName(name, origin);
    state.bytes = bytes;
    ++state.edits;
    saveSoon();
    convertNow();
  }

  function show(answer, bytes, current) {
    const result = answer.data === null ? page.outOfMemory(state.name) : answer.data;
    state.data = result;
    state.format = answer.format;
    state.roll = answer.roll;
    state.textIndex = current ? page.offsetMap(page.scoreText(bytes)) : null;
    const samples = result.wav === null ? new Uint8Array(0) : result.wav.subarray(state.format.headerSize);
    showMessage(result, samples.length / state.format.sampleRate);
    showWarnings(page.warningsOf(result));
    chordList.show(result);
    player.load(samples, state.format);
    picture.show(answer.picture, soundOf(result, samples.length));
    state.shownChord = -1;
    showStopped();
    element("download").disabled = result.wav === null;
    // How long after the conversion's end the picture is on screen.
    requestAnimationFrame(() => {
      page.timings = {pictureReady: performance.timeOrigin + performance.now() - answer.convertedAt};
    });
  }

  function showMessage(result, seconds) {
    const message = element("message");
    message.dataset.score = state.name; // which score the message is about, and how many came before
    message.dataset.conversions = String(Number(message.dataset.conversions || 0) + 1);
    if (result.status !== 0) {
      message.textContent = result.failureMessage + "\n" + result.failureReason;
      message.className = "failure";
      return;
    }
    const chords = result.chordCount;
    message.textContent = `${chords} chord${chords === 1 ? "" : "s"}, ${page.clockTime(seconds)} of sound: ${result.outputName}`;
    message.className = "success";
  }

  // Returns the editor's text indexes of a stretch of the converted bytes,
  // or null when the text has changed since.
  function textRange(offset, length) {
    if (state.textIndex === null) return null;
    return [state.textIndex(offset), state.textIndex(offset + length)];
  }

  function showWarnings(warnings) {
    const list = element("warnings");
    list.textContent = "";
    const stretches = [];
    for (const warning of warnings) {
      const item = document.createElement("li");
      if (warning.line === 0) {
        item.textContent = warning.text; // how many more were not shown
      } else {
        const said = `${warning.line}:${warning.column}: ${warning.text}`;
        const button = document.createElement("button");
        button.type = "button";
        button.className = "warning";
        button.textContent = said;
        button.addEventListener("click", () => {
          const range = textRange(warning.offset, warning.length);
          if (range !== null) editor.select(range[0], range[1]);
        });
        item.append(button);
        const range = textRange(warning.offset, warning.length);
        if (range !== null && range[1] > range[0]) stretches.push({start: range[0], end: range[1], title: said});
      }
      list.append(item);
    }
    editor.mark(stretches);
    element("warnings-heading").hidden = list.children.length === 0;
  }

  // Returns the index of the chord whose samples hold sample, or -1.
  function chordAt(sample) {
    const table = state.data === null ? new Float64Array(0) : state.data.chordTable;
    let low = 0;
    let high = table.length / chordFields - 1;
    while (low <= high) {
      const middle = (low + high) >> 1;
      const start = table[middle * chordFields];
      if (sample < start) high = middle - 1;
      else if (sample >= start + table[middle * chordFields + 1]) low = middle + 1;
      else return middle;
    }
    return -1;
  }

  // What the picture knows of the sound.
  function soundOf(result, totalSamples) {
    const table = result.chordTable;
    return {
      seconds: totalSamples / state.format.sampleRate,
      sampleRate: state.format.sampleRate,
      totalSamples: totalSamples,
      chordAt: chordAt,
      spanOf(sample) {
        const chord = chordAt(sample);
        return chord < 0 ? null : {start: table[chord * chordFields], samples: table[chord * chordFields + 1]};
      },
      hasNote(chord, pitch) {
        const first = table[chord * chordFields + 8];
        const count = table[chord * chordFields + 9];
        return first >= 0 && result.notes.subarray(first, first + count).includes(pitch);
      },
    };
  }

  // Selects a chord's text in the editor.
  function selectChord(chord) {
    const table = state.data.chordTable;
    const range = textRange(table[chord * chordFields + 2], table[chord * chordFields + 3]);
    if (range !== null) editor.select(range[0], range[1]);
  }

  // Marks the chord at the playhead in the list and in the editor.
  function markChord(second) {
    const chord = chordAt(Math.floor(second * state.format.sampleRate));
    if (chord === state.shownChord) return;
    state.shownChord = chord;
    chordList.mark(chord);
    const table = state.data.chordTable;
    const range = chord < 0 ? null : textRange(table[chord * chordFields + 2], table[chord * chordFields + 3]);
    if (range === null) editor.highlight(-1, -1);
    else editor.highlight(range[0], range[1]);
  }

  function showPosition(second) {
    picture.showPlayhead(second);
    const total = player.canPlay() ? " / " + page.clockTime(player.duration()) : "";
    element("time").textContent = page.clockTime(second) + total;
    if (state.data !== null) markChord(second);
  }

  function follow() {
    if (!player.playing()) return;
    showPosition(player.position());
    requestAnimationFrame(follow);
  }

  function showStopped() {
    const play = element("play");
    play.disabled = !player.canPlay();
    play.textContent = "Play";
    play.setAttribute("aria-pressed", "false");
    showPosition(player.position());
  }

  function seek(second) {
    player.seek(second);
    showPosition(second);
  }

  function togglePlay() {
    if (player.playing()) {
      player.stop();
      showStopped();
      return;
    }
    player.play();
    const play = element("play");
    play.textContent = "Stop";
    play.setAttribute("aria-pressed", "true");
    requestAnimationFrame(follow);
  }

  function download() {
    const result = state.data;
    if (result === null || result.wav === null) return;
    const link = document.createElement("a");
    link.href = URL.createObjectURL(new Blob([result.wav], {type: "audio/wav"}));
    link.download = result.outputName;
    document.body.append(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(link.href), 60000);
  }

  async function loadFile(file) {
    load(new Uint8Array(await file.arrayBuffer()), file.name, "file");
  }

  // The chords' echo lines in a list that holds only the rows in view.
  function createChordList(view, list) {
    let result = null;
    let rows = 0; // the kept chords, and a last row for those not kept
    let rowHeight = 0;
    let marked = -1;

    function render() {
      if (rowHeight === 0) {
        const probe = document.createElement("li");
        probe.textContent = "0";
        list.append(probe);
        rowHeight = probe.getBoundingClientRect().height || 20;
        probe.remove();
      }
      const first = Math.max(0, Math.floor(view.scrollTop / rowHeight) - 2);
      const end = Math.min(rows, first + Math.ceil(view.clientHeight / rowHeight) + 5);
      const kept = result.chordTable.length / chordFields;
      const chords = page.chordsOf(result, first, Math.min(end, kept));
      list.style.paddingTop = first * rowHeight + "px";
      list.style.height = rows * rowHeight + "px";
      list.textContent = "";
      for (let i = first; i < end; ++i) {
        const item = document.createElement("li");
        if (i < kept) {
          item.value = i + 1;
          item.textContent = chords[i - first].text;
          if (i === marked) {
            item.className = "playing";
            item.setAttribute("aria-current", "true");
          }
        } else {
          item.className = "more";
          item.textContent = `… and ${result.chordCount - kept} chords more`;
        }
        list.append(item);
      }
    }

    view.addEventListener("scroll", () => result !== null && render());
    return {
      show(newResult) {
        result = newResult;
        const kept = result.chordTable.length / chordFields;
        rows = kept + (result.chordCount > kept ? 1 : 0);
        marked = -1;
        view.scrollTop = 0;
        render();
      },
      // Marks a chord's row (none for -1) and scrolls the list, not the window, to it.
      mark(chord) {
        marked = chord;
        if (chord >= 0 && rowHeight > 0) {
          const top = chord * rowHeight;
          if (top < view.scrollTop || top + rowHeight > view.scrollTop + view.clientHeight) {
            view.scrollTop = Math.max(0, top - view.clientHeight / 2);
          }
        }
        if (result !== null) render();
      },
    };
  }

  function listen() {
    editor.onEdit(() => {
      state.bytes = null;
      ++state.edits;
      if (state.origin === "example") setName("untitled.txt", "untitled");
      saveSoon();
      convertSoon();
    });
    element("score-name").addEventListener("input", (event) => {
      state.name = event.target.value;
      state.origin = "user";
      document.title = state.name + " – score2wav";
      saveSoon();
      convertSoon();
    });
    element("load-example").addEventListener("click", () => {
      const example = data.examples[Number(element("examples").value)];
      load(encoder.encode(example.text), example.name, "example");
    });
    element("open").addEventListener("click", () => element("file").click());
    element("file").addEventListener("change", (event) => {
      if (event.target.files.length > 0) loadFile(event.target.files[0]);
      event.target.value = "";
    });
    element("play").addEventListener("click", togglePlay);
    element("download").addEventListener("click", download);
    let resizeTimer = 0;
    window.addEventListener("resize", () => {
      clearTimeout(resizeTimer);
      resizeTimer = setTimeout(async () => {
        const {width, height} = picture.size();
        const answer = await converter.picture(width, height);
        if (answer === null || answer.picture === null) return;
        state.roll = answer.roll;
        picture.redrawn(answer.picture);
      }, 150);
    });
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

  // Returns the score kept from the last visit, or null.
  function keptScore() {
    try {
      const kept = JSON.parse(localStorage.getItem(storageKey));
      return kept && typeof kept.text === "string" && typeof kept.name === "string" ? kept : null;
    } catch (error) {
      return null;
    }
  }

  function start() {
    element("version").textContent = "version " + data.version;
    data.examples.forEach((example, index) => {
      const option = document.createElement("option");
      option.value = index;
      option.textContent = example.name;
      element("examples").append(option);
    });
    const first = Math.max(0, data.examples.findIndex((example) => example.name === "ode_to_joy.txt"));
    element("examples").value = String(first);
    listen();
    const kept = keptScore();
    if (kept !== null) {
      editor.setText(kept.text);
      setName(kept.name, kept.origin || "user");
    } else {
      editor.setText(data.examples[first].text);
      setName(data.examples[first].name, "example");
    }
    convertNow();
  }

  // What the page shows, as data, for scripts that check it: the chords of
  // the latest conversion and the piano roll drawn from them.
  page.view = () => ({
    chords: state.data === null ? [] : page.chordsOf(state.data, 0, state.data.chordTable.length / chordFields),
    roll: state.roll,
  });

  start();
})();
