// The page: a score in, converted in the worker as it is typed or dropped;
// its chords, failure message and warnings shown as the console shows them,
// its warnings marked in the editor; the sound pictured with its notes,
// played, and downloaded as the console program's own WAV file. Every load
// is a step of the editor's one undo history; the text and its name are
// kept across reloads, saved as a file, and shared as a link.
(function () {
  "use strict";
  const page = window.score2wavPage;
  const data = window.score2wavPageData;
  const element = (id) => document.getElementById(id);

  const typingPause = 300; // milliseconds without a key before converting
  const keepPause = 500; // and before keeping the text across reloads
  const untitled = "untitled.txt"; // the name of a score whose name is empty
  const longLink = 8000; // characters: some mail and chat programs cut longer links
  const recentCount = 30; // kept tunes offered again

  const state = {
    edits: 0, // edits so far, to tell a conversion of older text
    bytes: null, // the current text's UTF-8, once asked for
    data: null, // the latest conversion's data
    chord: null, // where each field of a chord's record stands in data.chordTable
    format: null,
    roll: null, // the piano roll as drawn: {width, rows}, a byte a pixel column of each pitch
    textIndex: null, // maps the converted bytes' offsets to the editor's text
    shownChord: -1, // the chord marked as playing
    placed: false, // the playhead was put somewhere (Play, a click): the chord under it is marked
    timer: 0,
    keepTimer: 0,
    keepPlayhead: false, // the editor's selection moves without moving the playhead
  };

  let editor = null; // made once the kept text is read
  const picture = page.createPicture(element("picture"), seek, selectChord);
  const player = page.createPlayer(showStopped);
  const converter = page.createConverter(true);
  const keeper = page.createKeeper();
  let linkConverter = null; // a worker of its own inflates links, made on first use
  const chordList = createChordList(element("echo-view"), element("echo"));
  const encoder = new TextEncoder();

  // The score's name as the user reads it: an empty name is untitled.txt.
  function scoreName() {
    return editor.info().name || untitled;
  }

  // The name the conversion is given. A name ending in .wav would name its
  // own output, which the console program refuses; the page converts it as
  // the same name ending in .txt, so that its sound plays and downloads.
  function conversionName() {
    const name = scoreName();
    return /\.wav$/i.test(name) ? name.slice(0, -4) + ".txt" : name;
  }

  // The current score's bytes: the loaded file's own, or the text's UTF-8.
  function scoreBytes() {
    const loaded = editor.info().bytes;
    if (loaded !== null) return loaded;
    if (state.bytes === null) state.bytes = encoder.encode(editor.text());
    return state.bytes;
  }

  async function convertNow() {
    clearTimeout(state.timer);
    const edits = state.edits;
    const bytes = scoreBytes();
    const {width, height} = picture.size();
    const answer = await converter.convert(bytes, conversionName(), width, height);
    if (answer === null) return; // a later conversion took its place
    show(answer, bytes, edits === state.edits);
  }

  function convertSoon() {
    clearTimeout(state.timer);
    state.timer = setTimeout(convertNow, typingPause);
  }

  // Keeps the text, its name and a loaded file's bytes as its tune, for
  // the next visit; says so beside the editor when the browser refuses.
  async function keepNow() {
    clearTimeout(state.keepTimer);
    state.keepTimer = 0;
    const info = editor.info();
    const edits = state.edits;
    try {
      await keeper.keep(info.tune, {text: editor.text(), name: info.name, origin: info.origin, bytes: info.bytes});
      if (edits === state.edits) showKept("");
      showRecent();
    } catch (error) {
      showKept(`This text is not kept in the browser (${error && error.name ? error.name : error}): ` +
               "the copy kept before stays, and a reload would show that one. Save score keeps this one as a file.", true);
    }
  }

  // Fills the list of recent tunes, the last edited first.
  async function showRecent() {
    const tunes = await keeper.recent(recentCount);
    const list = element("recent");
    const chosen = list.value;
    list.replaceChildren(...tunes.map((tune) => {
      const option = document.createElement("option");
      option.value = tune.id;
      option.textContent = `${tune.name || untitled}, ${new Date(tune.edited).toLocaleString()}`;
      return option;
    }));
    if (tunes.some((tune) => tune.id === chosen)) list.value = chosen;
    element("open-recent").disabled = tunes.length === 0;
  }

  // Opens a kept tune, as one undoable load over the text there was.
  async function openRecent() {
    const tune = await keeper.open(element("recent").value);
    if (tune === null) {
      showNotice("That tune is no longer kept in this browser. The score stays as it was.");
      showRecent();
      return;
    }
    const bytes = tune.bytes instanceof Uint8Array ? tune.bytes : null;
    editor.load(tune.text, {name: tune.name, origin: tune.origin || "user", bytes, tune: tune.id});
  }

  // Says so when another tab keeps the tune this one shows: the later edit
  // wins, and the version it replaces stays among the recent tunes.
  function changedElsewhere(id) {
    showRecent();
    if (editor === null || id !== editor.info().tune) return;
    showKept("This tune was changed in another tab. An edit here replaces that version, which then stays " +
             "among the recent tunes.", true);
  }

  function keepSoon() {
    clearTimeout(state.keepTimer);
    state.keepTimer = setTimeout(keepNow, keepPause);
  }

  function showKept(text, failed = false) {
    const kept = element("kept");
    kept.textContent = text;
    kept.className = failed ? "note failure" : "note";
  }

  // Returns why bytes, whose text (after a mark, a UTF-16 file's in UTF-8)
  // is text, are no score, or "": a score is no RIFF file (a WAV), and its
  // text holds no NUL byte.
  function notText(bytes, text) {
    if (bytes.length >= 4 && String.fromCharCode(...bytes.subarray(0, 4)) === "RIFF") {
      return "it is a RIFF file (such as a WAV file), not a score's text";
    }
    return text.includes(0) ? "it holds NUL bytes: it is not a text file" : "";
  }

  // Loads a score from bytes, as if the console program were given its
  // file: one step of the undo history, which takes back its name too. It
  // starts a tune of its own, so that no kept tune is written over.
  function load(bytes, name, origin) {
    // The editor shows the text the converter reads: a UTF-16 file's text,
    // a marked UTF-8 file's text without its mark.
    const scoreText = page.scoreText(bytes);
    const why = notText(bytes, scoreText);
    if (why !== "") {
      showNotice(`"${name}" was not loaded: ${why}. The score stays as it was.`);
      return;
    }
    const text = new TextDecoder("utf-8", {ignoreBOM: true}).decode(scoreText);
    if (text.length === 0 && scoreText.length > 0) { // a browser's decoder gives up on huge texts so
      showNotice(`"${name}" was not loaded: the browser could not decode its text (it is too large). ` +
                 "The score stays as it was.");
      return;
    }
    editor.load(text, {name, origin, bytes, tune: page.newTuneId()});
  }

  // Shows a word about the last thing the user did, in the message's place.
  function showNotice(text) {
    const message = element("message");
    message.textContent = text;
    message.className = "failure";
  }

  // After every change of the text or its name: the name's field and
  // note, the undo buttons, a conversion and keeping.
  function changed(update) {
    ++state.edits;
    state.bytes = null;
    const name = element("score-name");
    if (name.value !== update.info.name) name.value = update.info.name;
    document.title = scoreName() + " – score2wav";
    showNameNote();
    showHistory();
    keepSoon();
    if (update.loaded || update.history) convertNow();
    else convertSoon();
  }

  function showNameNote() {
    const note = element("name-note");
    const name = scoreName();
    note.hidden = !/\.wav$/i.test(name);
    note.textContent = note.hidden ? "" : `The console program would refuse a score named "${name}": its WAV ` +
      `file would have the same name. Here it plays, and downloads as "${conversionName().slice(0, -4)}.wav".`;
  }

  function showHistory() {
    element("undo").disabled = !editor.canUndo();
    element("redo").disabled = !editor.canRedo();
  }

  function show(answer, bytes, current) {
    if (answer.data === null) {
      showNotice("This score could not be converted: the page has no memory left for it.");
      return;
    }
    const result = answer.data;
    state.data = result;
    state.chord = page.fieldsOf("chord");
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
    state.placed = false; // nothing is marked until Play or a click
    editor.highlight(-1, -1);
    showStopped();
    followCursor();
    element("download").disabled = result.wav === null;
    // How long after the conversion's end the picture is on screen.
    requestAnimationFrame(() => {
      page.timings = {pictureReady: performance.timeOrigin + performance.now() - answer.convertedAt};
    });
  }

  function showMessage(result, seconds) {
    const message = element("message");
    message.dataset.score = scoreName(); // which score the message is about, and how many came before
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
    const marks = [];
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
        if (range !== null) marks.push({from: range[0], to: range[1], message: said});
      }
      list.append(item);
    }
    editor.mark(marks);
    element("warnings-heading").hidden = list.children.length === 0;
  }

  // Returns the index of the chord whose samples hold sample, or -1.
  function chordAt(sample) {
    if (state.data === null) return -1;
    const table = state.data.chordTable;
    const field = state.chord;
    let low = 0;
    let high = table.length / field.count - 1;
    while (low <= high) {
      const middle = (low + high) >> 1;
      const start = table[middle * field.count + field.start];
      if (sample < start) high = middle - 1;
      else if (sample >= start + table[middle * field.count + field.samples]) low = middle + 1;
      else return middle;
    }
    return -1;
  }

  // Returns a field of a chord's record in the latest conversion, by name.
  function chordValue(chord, name) {
    return state.data.chordTable[chord * state.chord.count + state.chord[name]];
  }

  // Returns the editor's text indexes of a chord's text, or null.
  function chordRange(chord) {
    return chord < 0 ? null : textRange(chordValue(chord, "offset"), chordValue(chord, "length"));
  }

  // What the picture knows of the sound.
  function soundOf(result, totalSamples) {
    return {
      seconds: totalSamples / state.format.sampleRate,
      sampleRate: state.format.sampleRate,
      totalSamples: totalSamples,
      chordAt: chordAt,
      spanOf(sample) {
        const chord = chordAt(sample);
        return chord < 0 ? null : {start: chordValue(chord, "start"), samples: chordValue(chord, "samples")};
      },
      hasNote(chord, pitch) {
        const first = chordValue(chord, "notesStart");
        const count = chordValue(chord, "noteCount");
        return first >= 0 && result.notes.subarray(first, first + count).includes(pitch);
      },
    };
  }

  // Selects a chord's text in the editor and sounds it, as a click on its
  // note asks; the playhead stays where the click put it.
  function selectChord(chord) {
    state.placed = true;
    const range = chordRange(chord);
    state.keepPlayhead = true;
    if (range !== null) editor.select(range[0], range[1]);
    state.keepPlayhead = false;
    audition(chord);
  }

  // Returns the chord whose text holds the editor's text index at, or the
  // last one before it (a cursor after a bar stands at the chord just
  // written); the first chord before them all; -1 where none is kept.
  function chordAtText(at) {
    if (state.data === null || state.textIndex === null) return -1;
    let low = 0;
    let high = state.data.chordTable.length / state.chord.count - 1;
    let found = high >= 0 ? 0 : -1;
    while (low <= high) {
      const middle = (low + high) >> 1;
      if (chordRange(middle)[0] <= at) {
        found = middle;
        low = middle + 1;
      } else {
        high = middle - 1;
      }
    }
    return found;
  }

  // Returns the seconds a chord's sound begins and ends at.
  function chordSeconds(chord) {
    const rate = state.format.sampleRate;
    const start = chordValue(chord, "start");
    return [start / rate, (start + chordValue(chord, "samples")) / rate];
  }

  // Says what the sound does, for screen readers.
  function announce(text) {
    element("announce").textContent = text;
  }

  // Sounds one chord alone, for its length, over whatever was playing.
  function audition(chord) {
    if (chord < 0 || !player.canPlay()) return;
    const [first, end] = chordSeconds(chord);
    if (end <= first) return;
    const wasPlaying = player.playing();
    player.audition(first, end);
    if (wasPlaying) showStopped();
    announce(`Sounding chord ${chord + 1}: ${page.chordsOf(state.data, chord, chord + 1)[0].text}`);
  }

  // Ctrl+Enter in the editor: the chord where the cursor stands.
  function auditionAtCursor() {
    audition(chordAtText(editor.selection().from));
  }

  // While stopped, the playhead follows the cursor, so that Play starts at
  // the chord where it stands.
  function followCursor() {
    if (player.playing() || editor === null || state.keepPlayhead) return;
    const chord = chordAtText(editor.selection().from);
    if (chord < 0) return;
    const second = chordSeconds(chord)[0];
    player.seek(second);
    showPosition(second);
  }

  // Marks the chord at the playhead in the list and in the editor, once
  // the playhead has been put somewhere.
  function markChord(second) {
    const chord = state.placed ? chordAt(Math.floor(second * state.format.sampleRate)) : -1;
    if (chord === state.shownChord) return;
    state.shownChord = chord;
    chordList.mark(chord);
    const range = chordRange(chord);
    if (range === null) editor.highlight(-1, -1);
    else editor.highlight(range[0], range[1]);
  }

  function showPosition(second) {
    picture.showPlayhead(second);
    const tenths = player.duration() < 60;
    const total = player.canPlay() ? " / " + page.clockTime(player.duration(), tenths) : "";
    element("time").textContent = page.clockTime(second, tenths) + total;
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

  // Shows the Play button as Stop while anything plays, and follows it.
  function showPlaying() {
    const play = element("play");
    play.textContent = "Stop";
    play.setAttribute("aria-pressed", "true");
    requestAnimationFrame(follow);
  }

  // The seconds Loop repeats: the chords a selection touches, or the whole sound.
  function loopSpan() {
    const {from, to} = editor.selection();
    const first = from < to ? chordAtText(from) : -1;
    if (first < 0) return [0, player.duration(), "the whole score"];
    const last = Math.max(first, chordAtText(to - 1));
    return [chordSeconds(first)[0], chordSeconds(last)[1],
            first === last ? `chord ${first + 1}` : `chords ${first + 1} to ${last + 1}`];
  }

  function toggleLoop() {
    const loop = element("loop");
    const on = loop.getAttribute("aria-pressed") !== "true";
    loop.setAttribute("aria-pressed", String(on));
    announce(on ? "Loop on" : "Loop off");
    if (player.playing()) {
      player.stop();
      togglePlay();
    }
  }

  function seek(second) {
    state.placed = true;
    player.seek(second);
    showPosition(second);
  }

  function togglePlay() {
    if (player.playing()) {
      player.stop();
      showStopped();
      announce("Stopped");
      return;
    }
    state.placed = true;
    if (element("loop").getAttribute("aria-pressed") === "true") {
      const [first, end, what] = loopSpan();
      player.playSpan(first, end, true, player.position());
      announce(`Looping ${what}`);
    } else {
      player.play();
      announce(`Playing from ${page.clockTime(player.position())}`);
    }
    showPlaying();
  }

  function download() {
    const result = state.data;
    if (result === null || result.wav === null) return;
    downloadBytes(result.wav, result.outputName, "audio/wav");
  }

  async function loadFile(file) {
    load(new Uint8Array(await file.arrayBuffer()), file.name, "file");
  }

  // Downloads bytes as a file of the given name.
  function downloadBytes(bytes, name, type) {
    const link = document.createElement("a");
    link.href = URL.createObjectURL(new Blob([bytes], {type}));
    link.download = name;
    document.body.append(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(link.href), 60000);
  }

  // Saves the score's text under its name: a loaded file's own bytes while
  // it stands unedited. A name ending in .wav gains .txt: a text file so
  // named would pass for a sound.
  function saveScore() {
    const name = scoreName();
    downloadBytes(scoreBytes(), /\.wav$/i.test(name) ? name + ".txt" : name, "text/plain");
  }

  // Puts the score in a link, copies it, and shows it with its length.
  async function copyLink() {
    let link;
    try {
      link = await page.linkOf(scoreBytes(), scoreName(), location.href);
    } catch (error) {
      showLink("", `No link: this browser cannot compress (${error.name}). Save score keeps the tune as a file.`);
      return;
    }
    let copied = false;
    try {
      await navigator.clipboard.writeText(link);
      copied = true;
    } catch (error) {
      // The clipboard was refused: the link is shown for copying by hand.
    }
    const length = link.length.toLocaleString("en");
    const said = copied ? `Link copied: ${length} characters.` : `Copy this link (${length} characters): the browser kept the clipboard closed.`;
    const warning = link.length > longLink ? ` Some mail and chat programs cut links longer than about ${longLink.toLocaleString("en")}` +
      " characters; Save score sends the tune whole." : "";
    const local = location.protocol === "file:" ? " This link opens only on this computer: the page is opened " +
      "from a file here, not from a web address." : "";
    showLink(link, said + warning + local);
    return link;
  }

  function showLink(link, note) {
    element("link-box").hidden = false;
    element("link").value = link;
    element("link-note").textContent = note;
    if (!/copied/.test(note)) element("link").select();
  }

  async function share() {
    const link = await copyLink();
    if (link === undefined) return;
    try {
      await navigator.share({title: scoreName(), url: link});
    } catch (error) {
      // Shared nothing (the user closed the sheet): the link is still shown.
    }
  }

  // Opens the score of the page's link, if it has one, as one undoable
  // load over the text there was; then drops the fragment, so that a
  // reload shows the kept text, edits and all, not the link afresh.
  async function openLink() {
    if (location.hash.length < 2) return;
    if (linkConverter === null) linkConverter = page.createConverter(false);
    try {
      const linked = await page.scoreOfLink(location.hash, (packed, limit) => linkConverter.inflate(packed, limit));
      if (linked !== null) load(linked.bytes, linked.name || untitled, "link");
    } catch (error) {
      const megabytes = page.linkLimit / (1024 * 1024);
      showNotice(error.reason === "name" ? "This link's score was not opened: its name holds a NUL character. The score stays as it was."
        : error.reason === "large" ? `This link's score was not opened: it holds more than ${megabytes} MiB of text, ` +
          "more than a link may carry (open it as a file instead). The score stays as it was."
        : "This link's score cannot be read: the link was probably cut short. The score stays as it was.");
    }
    try {
      history.replaceState(null, "", location.href.split("#")[0]);
    } catch (error) {
      // The fragment stays; a reload would load the link again, as one more undoable step.
    }
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
      const kept = result.chordTable.length / page.fieldsOf("chord").count;
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
        const kept = result.chordTable.length / page.fieldsOf("chord").count;
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

  // Whether keys typed at a node are its own: a text field's, a list's.
  function typesText(node) {
    if (!(node instanceof Element)) return false;
    if (node.isContentEditable || node.closest("textarea, select, [contenteditable]")) return true;
    return node.tagName === "INPUT" && !["button", "checkbox", "radio", "range", "file"].includes(node.type);
  }

  // Keys for the whole page: Ctrl+Z and redo outside the editor (which has
  // its own) and other text fields; Space plays and stops, ? shows the help.
  function onKey(event) {
    const target = event.target;
    if (typesText(target) || editor.holds(target) || element("help-dialog").open) return;
    const which = page.historyKey(event);
    if (which !== null) {
      event.preventDefault();
      if (which === "undo") editor.undo();
      else editor.redo();
      return;
    }
    if (event.ctrlKey || event.metaKey || event.altKey) return;
    if (event.key === " " && !(target instanceof Element && target.closest("button, a, summary"))) {
      event.preventDefault();
      if (!element("play").disabled) togglePlay();
    } else if (event.key === "?") {
      event.preventDefault();
      element("help-dialog").showModal();
    } else if (event.key === "l" || event.key === "L") {
      if (target instanceof Element && target.closest("select")) return; // a letter picks an option there
      event.preventDefault();
      toggleLoop();
    }
  }

  function listen() {
    element("score-name").addEventListener("input", (event) => editor.rename(event.target.value, "user"));
    element("load-example").addEventListener("click", () => {
      const example = data.examples[Number(element("examples").value)];
      load(encoder.encode(example.text), example.name, "example");
    });
    element("open").addEventListener("click", () => element("file").click());
    element("open-recent").addEventListener("click", openRecent);
    element("file").addEventListener("change", (event) => {
      if (event.target.files.length > 0) loadFile(event.target.files[0]);
      event.target.value = "";
    });
    element("undo").addEventListener("click", () => editor.undo());
    element("redo").addEventListener("click", () => editor.redo());
    element("save-score").addEventListener("click", saveScore);
    element("copy-link").addEventListener("click", copyLink);
    element("share").hidden = typeof navigator.share !== "function";
    element("share").addEventListener("click", share);
    element("help").addEventListener("click", () => element("help-dialog").showModal());
    element("play").addEventListener("click", togglePlay);
    element("loop").addEventListener("click", toggleLoop);
    element("echo").addEventListener("click", (event) => {
      const item = event.target instanceof Element ? event.target.closest("li") : null;
      if (item !== null && item.value > 0) audition(item.value - 1);
    });
    element("download").addEventListener("click", download);
    document.addEventListener("keydown", onKey);
    window.addEventListener("hashchange", openLink);
    // Leaving the page keeps at once what waits for its pause.
    document.addEventListener("visibilitychange", () => {
      if (document.visibilityState === "hidden" && state.keepTimer !== 0) keepNow();
    });
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

  // Resolves to the score to start with: this tab's tune after a reload,
  // else the tune edited last (in local storage, where the first versions
  // of the page kept it, if nothing is in IndexedDB), else the first example. Says so when the
  // last text shown could not be kept, so that this one is older.
  async function startingScore(example) {
    const {record, older} = await keeper.load();
    let kept = record;
    if (kept === null) {
      try {
        const earlier = JSON.parse(localStorage.getItem("score2wav.score"));
        if (earlier && typeof earlier.text === "string" && typeof earlier.name === "string") kept = earlier;
      } catch (error) {
        // Nothing kept there either.
      }
    }
    if (older) {
      showKept(kept === null ? "The text of your last visit could not be kept in this browser."
        : "The text of your last visit could not be kept in this browser: this is an older one.", true);
    }
    if (kept === null) {
      return {text: example.text, info: {name: example.name, origin: "example", bytes: null, tune: page.newTuneId()}};
    }
    const bytes = kept.bytes instanceof Uint8Array ? kept.bytes : null;
    const tune = typeof kept.id === "string" ? kept.id : page.newTuneId();
    return {text: kept.text, info: {name: kept.name, origin: kept.origin || "user", bytes, tune}};
  }

  // Over http(s) the page can be installed and opened offline: its manifest
  // (added here, since a page opened from disk may not read it) and the
  // worker that keeps its files; an installed page opens score files.
  function offerInstall() {
    if (!/^https?:$/.test(location.protocol)) return;
    const manifest = document.createElement("link");
    manifest.rel = "manifest";
    manifest.href = "manifest.webmanifest";
    document.head.append(manifest);
    if ("serviceWorker" in navigator) navigator.serviceWorker.register("service-worker.js").catch(() => {});
    if ("launchQueue" in window) {
      window.launchQueue.setConsumer(async (launch) => {
        if (launch.files && launch.files.length > 0) loadFile(await launch.files[0].getFile());
      });
    }
  }

  async function start() {
    element("version").textContent = "version " + data.version;
    data.examples.forEach((example, index) => {
      const option = document.createElement("option");
      option.value = index;
      option.textContent = example.name;
      element("examples").append(option);
    });
    const first = Math.max(0, data.examples.findIndex((example) => example.name === "ode_to_joy.txt"));
    element("examples").value = String(first);
    const {text, info} = await startingScore(data.examples[first]);
    editor = page.createEditor(element("editor"), text, info, changed,
                               {onCursor: followCursor, onAudition: auditionAtCursor});
    element("score-name").value = info.name;
    document.title = scoreName() + " – score2wav";
    showNameNote();
    listen();
    keeper.onElsewhere(changedElsewhere);
    offerInstall();
    showRecent();
    convertNow();
    openLink();
  }

  // What the page shows, as data, for scripts that check it: the chords of
  // the latest conversion and the piano roll drawn from them; the editor's
  // text, selected text, name, marked warnings and playing chord.
  // Selects the editor's text from one index to another, as a user would.
  page.selectText = (from, to) => editor.select(from, to);

  page.view = () => ({
    chords: state.data === null ? [] : page.chordsOf(state.data, 0, state.data.chordTable.length / state.chord.count),
    roll: state.roll,
    text: editor.text(),
    selected: editor.selected(),
    name: editor.info().name,
    marks: editor.marks(),
    playing: editor.playing(),
  });

  start();
})();
