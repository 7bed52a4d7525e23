// The page: a score in, converted in the worker as it is typed or dropped;
// its chords, failure message and warnings shown as the console shows them,
// its warnings marked in the editor; the sound pictured with its notes,
// played, and downloaded as the console program's own WAV file. Every load
// is a step of the editor's one undo history; the text and its name are
// kept across reloads, saved as a file, and shared as a link.
import {publishApi} from "./api.js";
import {createConverter} from "./converter.js";
import {createEditor} from "./editor/editor.js";
import {createChordIndex} from "./chord_index.js";
import {createChordList} from "./chord_list.js";
import {offerInstall} from "./install.js";
import {newTuneId} from "./keeping.js";
import {pageKeys} from "./keys.js";
import {clockTime, createPicture} from "./picture.js";
import {createPlayer} from "./player.js";
import {chordsOf, fieldsOf, warningsOf} from "./records.js";
import {createSharing} from "./sharing.js";
import {createTunes} from "./tunes.js";

// What scripts that check the page may ask of it (window.score2wavPage).
const testSurface = (window.score2wavPage = {});
const data = window.score2wavPageData;
const element = (id) => document.getElementById(id);

const typingPause = 300; // milliseconds without a key before converting
const untitled = "untitled.txt"; // the name of a score whose name is empty

const state = {
  edits: 0, // edits so far, to tell a conversion of older text
  bytes: null, // the current text's UTF-8, once asked for
  data: null, // the latest conversion's data
  chord: null, // where each field of a chord's record stands in data.chordTable
  format: null,
  roll: null, // the piano roll as drawn: {width, rows}, a byte a pixel column of each pitch
  current: false, // the latest conversion is of the editor's text: its records' places stand
  shownChord: -1, // the chord marked as playing
  placed: false, // the playhead was put somewhere (Play, a click): the chord under it is marked
  timer: 0,
  keepPlayhead: false, // the editor's selection moves without moving the playhead
};

let editor = null; // made once the kept text is read
const picture = createPicture(element("picture"), seek, selectChord);
const player = createPlayer(showStopped);
const converter = createConverter(true);
const tunes = createTunes({editor: () => editor, edits: () => state.edits, notice: showNotice});
const chordList = createChordList(element("echo-view"), element("echo"));
const {chordAt, chordValue, chordRange, chordAtText, chordSeconds} = createChordIndex(state);
const sharing = createSharing({bytes: scoreBytes, name: scoreName, notice: showNotice,
                               load: (bytes, name, origin) => load(bytes, name || untitled, origin)});
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

// Returns the text the converter reads from a file's bytes, as the
// browser's own decoders read it: a UTF-16 file's text after its mark, a
// marked UTF-8 file's text after its mark, any other file as UTF-8. Each
// unit or byte that is no character is one U+FFFD, as the core counts it.
function textOf(bytes) {
  const [mark, encoding] = bytes[0] === 0xff && bytes[1] === 0xfe ? [2, "utf-16le"]
    : bytes[0] === 0xfe && bytes[1] === 0xff ? [2, "utf-16be"]
    : bytes[0] === 0xef && bytes[1] === 0xbb && bytes[2] === 0xbf ? [3, "utf-8"] : [0, "utf-8"];
  return {text: new TextDecoder(encoding, {ignoreBOM: true}).decode(bytes.subarray(mark)), mark};
}

// Returns why bytes, whose text is text, are no score, or "": a score is no
// RIFF file (a WAV), and its text holds no NUL.
function notText(bytes, text) {
  if (bytes.length >= 4 && String.fromCharCode(...bytes.subarray(0, 4)) === "RIFF") {
    return "it is a RIFF file (such as a WAV file), not a score's text";
  }
  return text.includes("\0") ? "it holds NUL bytes: it is not a text file" : "";
}

// Loads a score from bytes, as if the console program were given its
// file: one step of the undo history, which takes back its name too. It
// starts a tune of its own, so that no kept tune is written over.
function load(bytes, name, origin) {
  // The editor shows the text the converter reads: a UTF-16 file's text,
  // a marked UTF-8 file's text without its mark.
  const {text, mark} = textOf(bytes);
  const why = notText(bytes, text);
  if (why !== "") {
    showNotice(`"${name}" was not loaded: ${why}. The score stays as it was.`);
    return;
  }
  if (text.length === 0 && bytes.length > mark) { // a browser's decoder gives up on huge texts so
    showNotice(`"${name}" was not loaded: the browser could not decode its text (it is too large). ` +
               "The score stays as it was.");
    return;
  }
  editor.load(text, {name, origin, bytes, tune: newTuneId()});
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
  tunes.keepSoon();
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
  state.chord = fieldsOf("chord");
  state.format = answer.format;
  state.roll = answer.roll;
  state.current = current;
  const samples = result.wav === null ? new Uint8Array(0) : result.wav.subarray(state.format.headerSize);
  showMessage(result, samples.length / state.format.sampleRate);
  showWarnings(warningsOf(result));
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
    testSurface.timings = {pictureReady: performance.timeOrigin + performance.now() - answer.convertedAt};
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
  message.textContent = `${chords} chord${chords === 1 ? "" : "s"}, ${clockTime(seconds)} of sound: ${result.outputName}`;
  message.className = "success";
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
        if (state.current) editor.select(warning.editorFrom, warning.editorTo);
      });
      item.append(button);
      if (state.current) marks.push({from: warning.editorFrom, to: warning.editorTo, message: said});
    }
    list.append(item);
  }
  editor.mark(marks);
  element("warnings-heading").hidden = list.children.length === 0;
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
      return chord < 0 ? null : {firstSample: chordValue(chord, "firstSample"), sampleCount: chordValue(chord, "sampleCount")};
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
  announce(`Sounding chord ${chord + 1}: ${chordsOf(state.data, chord, chord + 1)[0].text}`);
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
  if (second === player.position()) return; // typing within a chord moves nothing
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
  const total = player.canPlay() ? " / " + clockTime(player.duration(), tenths) : "";
  element("time").textContent = clockTime(second, tenths) + total;
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
    announce(`Playing from ${clockTime(player.position())}`);
  }
  showPlaying();
}

function download() {
  const result = state.data;
  if (result === null || result.wav === null) return;
  sharing.downloadBytes(result.wav, result.outputName, "audio/wav");
}

async function loadFile(file) {
  load(new Uint8Array(await file.arrayBuffer()), file.name, "file");
}

function listen() {
  element("score-name").addEventListener("input", (event) => editor.rename(event.target.value, "user"));
  element("load-example").addEventListener("click", () => {
    const example = data.examples[Number(element("examples").value)];
    load(encoder.encode(example.text), example.name, "example");
  });
  element("open").addEventListener("click", () => element("file").click());
  element("open-recent").addEventListener("click", tunes.openRecent);
  element("file").addEventListener("change", (event) => {
    if (event.target.files.length > 0) loadFile(event.target.files[0]);
    event.target.value = "";
  });
  element("undo").addEventListener("click", () => editor.undo());
  element("redo").addEventListener("click", () => editor.redo());
  element("save-score").addEventListener("click", sharing.saveScore);
  element("copy-link").addEventListener("click", sharing.copyLink);
  element("share").hidden = typeof navigator.share !== "function";
  element("share").addEventListener("click", sharing.share);
  element("help").addEventListener("click", () => element("help-dialog").showModal());
  element("play").addEventListener("click", togglePlay);
  element("loop").addEventListener("click", toggleLoop);
  element("echo").addEventListener("click", (event) => {
    const item = event.target instanceof Element ? event.target.closest("li") : null;
    if (item !== null && item.value > 0) audition(item.value - 1);
  });
  element("download").addEventListener("click", download);
  document.addEventListener("keydown", pageKeys({editor: () => editor, togglePlay, toggleLoop}));
  window.addEventListener("hashchange", sharing.openLink);
  // Leaving the page keeps at once what waits for its pause.
  document.addEventListener("visibilitychange", () => {
    if (document.visibilityState === "hidden" && tunes.pending()) tunes.keepNow();
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
  const {text, info} = await tunes.startingScore(data.examples[first]);
  editor = createEditor(element("editor"), text, info, changed,
                             {onCursor: followCursor, onAudition: auditionAtCursor});
  element("score-name").value = info.name;
  document.title = scoreName() + " – score2wav";
  showNameNote();
  listen();
  offerInstall(loadFile);
  tunes.showRecent();
  convertNow();
  sharing.openLink();
}

// What the page shows, as data, for scripts that check it: the chords of
// the latest conversion and the piano roll drawn from them; the editor's
// text, selected text, name, marked warnings and playing chord.
// Selects the editor's text from one index to another, as a user would.
testSurface.selectText = (from, to) => editor.select(from, to);

testSurface.view = () => ({
  chords: state.data === null ? [] : chordsOf(state.data, 0, state.data.chordTable.length / state.chord.count),
  roll: state.roll,
  text: editor.text(),
  selected: editor.selected(),
  name: editor.info().name,
  marks: editor.marks(),
  playing: editor.playing(),
});

publishApi();
start();
