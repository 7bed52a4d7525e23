// The page in a real browser: every golden score through score2wav.convert
// (in the page's worker), then the user's path (typing, a dropped file and
// its download, a warning that selects its text, Play and the moving
// playhead, seeking, the piano roll, taking a load back, a reload, a phone's
// window), the page's colours, and its main thread with a one-hour score;
// with the page opened from disk (file://) and from a server on loopback, in
// Debian's Chromium, and in Firefox ESR where it is installed.
//
//   node page_test.mjs --page build-web/page --data tests/data --examples examples
//                      [--browser chromium|firefox] [--from file|http]
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import {pathToFileURL} from "node:url";
import zlib from "node:zlib";
import {convertInPage, forgetKept, launchChromium, launchFirefox, openPage, serve, waitForConversion} from "./browser.mjs";

const options = {};
for (let i = 2; i < process.argv.length; i += 2) options[process.argv[i].slice(2)] = process.argv[i + 1];
const pageFolder = path.resolve(options.page);
const failures = [];

function check(condition, what) {
  if (process.env.PAGE_TEST_VERBOSE) console.log((condition ? "ok: " : "") + what);
  if (!condition) {
    failures.push(what);
    console.log("FAIL: " + what);
  }
}

function read(file) {
  return fs.existsSync(file) ? fs.readFileSync(file) : null;
}

// Each golden case: the score, and what the console program writes and prints for it.
function goldenCases() {
  const cases = [];
  const add = (scoreFolder, goldenFolder) => {
    for (const entry of fs.readdirSync(scoreFolder).sort()) {
      if (!entry.endsWith(".txt")) continue;
      const golden = path.join(goldenFolder, entry.slice(0, -4));
      cases.push({
        name: entry,
        score: fs.readFileSync(path.join(scoreFolder, entry)),
        wav: read(golden + ".wav"),
        stdoutBytes: read(golden + ".stdout"),
        stderrBytes: read(golden + ".stderr") || Buffer.alloc(0),
        stdout: new TextDecoder().decode(read(golden + ".stdout")),
        stderr: new TextDecoder().decode(read(golden + ".stderr") || Buffer.alloc(0)),
        status: Number(String(read(golden + ".status")).trim()),
      });
    }
  };
  add(options.data, options.data);
  add(options.examples, path.join(options.data, "examples"));
  return cases;
}

async function checkGoldens(page, where) {
  const cases = goldenCases();
  check(cases.length > 20, `${where}: golden cases found (${cases.length})`);
  for (const golden of cases) {
    const result = await convertInPage(page, golden.score, golden.name);
    const sameWav = golden.wav === null ? result.wav === null : result.wav !== null && golden.wav.equals(result.wav);
    check(sameWav, `${where}: ${golden.name}: WAV bytes equal the golden file`);
    check(result.stdout === golden.stdout, `${where}: ${golden.name}: stdout ${JSON.stringify(result.stdout.slice(0, 80))}`);
    check(result.stderr === golden.stderr, `${where}: ${golden.name}: stderr ${JSON.stringify(result.stderr.slice(0, 120))}`);
    check(result.status === golden.status, `${where}: ${golden.name}: status ${result.status}`);
    check(result.stdoutBytes.equals(golden.stdoutBytes) && result.stderrBytes.equals(golden.stderrBytes),
          `${where}: ${golden.name}: the console's exact bytes`);
    checkRecords(result, golden, where);
  }
  const version = await page.evaluate(() => window.score2wav.version);
  check(/^\d+\.\d+\.\d+$/.test(version), `${where}: score2wav.version ${version}`);
}

// The records say what the console's text says: each chord its echo line,
// each warning its line on standard error, a failure its two lines.
function checkRecords(result, golden, where) {
  const lines = (text) => (text === "" ? [] : text.slice(0, -1).split("\n"));
  const echo = lines(golden.stdout).slice(0, result.chordCount);
  check(JSON.stringify(result.chords.map((chord) => chord.text)) === JSON.stringify(echo) &&
        result.chords.every((chord, i) => chord.firstSample === i * chord.sampleCount),
        `${where}: ${golden.name}: the chords are the echo lines`);
  const said = result.warnings.map((warning) => warning.line === 0 ? `${golden.name}: warning: ${warning.text}`
    : `${golden.name}:${warning.line}:${warning.column}: warning: ${warning.text}`);
  const failure = result.failure === null ? [] : [result.failure.reason];
  check(JSON.stringify(said.concat(failure)) === JSON.stringify(lines(golden.stderr)),
        `${where}: ${golden.name}: the warnings are the lines on standard error: ${said}`);
  check(result.failure === null ? result.status === 0 : lines(golden.stdout).pop() === result.failure.message,
        `${where}: ${golden.name}: the failure's message`);
}

const echoLines = (page) => page.$$eval("#echo li", (items) => items.map((item) => item.textContent));
const view = (page) => page.evaluate(() => window.score2wavPage.view());
const pause = (milliseconds) => new Promise((done) => setTimeout(done, milliseconds));

// Presses a button that downloads a file into the folder downloads, and
// returns the file's bytes (null if none came). Headless Chromium now and
// then drops a download from a page on loopback: one more press is made
// before the file is given up.
async function download(page, selector, downloads, name) {
  const saved = path.join(downloads, name);
  if (fs.existsSync(saved)) fs.rmSync(saved);
  for (let attempt = 0; attempt < 2 && !fs.existsSync(saved); ++attempt) {
    await press(page, selector);
    for (let i = 0; i < 100 && !fs.existsSync(saved); ++i) await pause(100);
    if (!fs.existsSync(saved)) console.log(`${selector} gave no ${name} (attempt ${attempt + 1}): ${fs.readdirSync(downloads)}`);
  }
  await pause(200); // the download's last bytes
  return fs.existsSync(saved) ? fs.readFileSync(saved) : null;
}

// Presses a button with the keyboard: a user's gesture, as a click is, that
// no shift of the layout can send elsewhere.
async function press(page, selector) {
  await page.focus(selector);
  await page.keyboard.press("Enter");
}

async function pressWith(page, modifier, key) {
  await page.keyboard.down(modifier);
  await page.keyboard.press(key);
  await page.keyboard.up(modifier);
}

async function checkTyping(page, where) {
  await page.click(".cm-content");
  await pressWith(page, "Control", "a");
  await page.keyboard.type("0.001\n1d1m|2d|");
  await page.waitForFunction(() => document.querySelectorAll("#echo li").length === 2, {timeout: 10000})
    .catch(() => {});
  check(JSON.stringify(await echoLines(page)) === JSON.stringify(["1d1m", "2d"]), `${where}: typing converts: ${await echoLines(page)}`);
  await pressWith(page, "Control", "f");
  const searching = await page.evaluate(() => document.activeElement.closest(".cm-search") !== null);
  await page.keyboard.press("Escape");
  check(searching, `${where}: Ctrl+F opens the search in the editor`);
}

// Where the browser refuses to keep the text, the page says so, and after
// a reload says that the last text was not kept.
async function checkKeepRefused(browser, url, where) {
  const page = await browser.newPage();
  await page.goto(url);
  await forgetKept(page);
  await page.evaluateOnNewDocument(() => {
    IDBFactory.prototype.open = () => { throw new DOMException("no room", "QuotaExceededError"); };
  });
  await page.reload();
  await waitForConversion(page);
  await page.focus(".cm-content");
  await page.keyboard.type("2d|");
  await page.waitForFunction(() => document.getElementById("kept").textContent !== "", {timeout: 5000}).catch(() => {});
  const said = [await page.$eval("#kept", (kept) => kept.textContent)];
  await page.reload();
  await waitForConversion(page);
  said.push(await page.$eval("#kept", (kept) => kept.textContent));
  check(/not kept.*QuotaExceededError/.test(said[0]) && /last visit could not be kept/.test(said[1]),
        `${where}: a text the browser refuses to keep is said so: ${JSON.stringify(said)}`);
  await page.close();
}

// The texts of every tune the page keeps.
const keptTexts = (page) => page.evaluate(() => new Promise((done) => {
  const request = indexedDB.open("score2wav");
  request.onsuccess = () => {
    const all = request.result.transaction("tunes").objectStore("tunes").getAll();
    all.onsuccess = () => done(all.result.map((tune) => tune.text));
  };
}));

// Types text at the end of the editor and waits for the page to keep it.
async function typeAndKeep(page, text) {
  await page.focus(".cm-content");
  await pressWith(page, "Control", "End");
  await page.keyboard.type(text);
  await pause(1500);
}

// No link, tab or refused save costs a kept tune: a link inflating past
// the cap and one whose name holds a NUL are refused with the editor as it
// was; two tabs on one tune keep both versions and the older tab is told;
// a refused save leaves the last kept copy. convert() copies the bytes the
// engine sees, whatever a subclass's getters say.
async function checkTunesAndLinks(browser, url, where) {
  const context = await browser.createBrowserContext();
  const first = await openPage(context, url);
  await typeAndKeep(first, "1d|");
  const mine = (await view(first)).text;
  const packed = zlib.deflateRawSync(Buffer.alloc(65 * 1024 * 1024 + 3, "2d "), {level: 9}).toString("base64url");
  const page = url.split("#")[0];
  for (const [fragment, said] of [[`#name=big.txt&score=${packed}`, /more than 64 MiB/],
                                  [`#name=a%00b.txt&score=${zlib.deflateRawSync("0.1\n2d|").toString("base64url")}`, /NUL/]]) {
    await first.goto(page + fragment);
    await first.waitForFunction(() => /not opened/.test(document.getElementById("message").textContent), {timeout: 60000})
      .catch(() => {});
    const message = await first.$eval("#message", (element) => element.textContent);
    check(said.test(message) && (await view(first)).text === mine, `${where}: a link refused (${said}), the text kept: ${message}`);
  }
  const second = await openPage(context, url, false);
  check((await view(second)).text === mine, `${where}: a new tab opens the tune edited last`);
  await typeAndKeep(first, "2d|");
  await second.waitForFunction(() => /another tab/.test(document.getElementById("kept").textContent), {timeout: 10000})
    .catch(() => {});
  const told = await second.$eval("#kept", (element) => element.textContent);
  await typeAndKeep(second, "3d|");
  const texts = await keptTexts(second);
  check(/another tab/.test(told) && texts.includes(mine + "2d|") && texts.includes(mine + "3d|"),
        `${where}: two tabs on one tune keep both versions, and the older is told: ${told} ${JSON.stringify(texts)}`);
  await second.evaluate(() => {
    IDBObjectStore.prototype.put = () => { throw new DOMException("no room", "QuotaExceededError"); };
  });
  await typeAndKeep(second, "4d|");
  const refused = await second.$eval("#kept", (element) => element.textContent);
  check(/copy kept before stays/.test(refused) && (await keptTexts(first)).includes(mine + "3d|"),
        `${where}: a refused save keeps the last kept copy: ${refused}`);
  const converted = await first.evaluate(async () => {
    const bytes = new TextEncoder().encode("0.001\n2d|");
    class Liar extends Uint8Array {
      get buffer() { return new ArrayBuffer(2); }
    }
    const other = new TextEncoder().encode("0.001\n1d1m|"); // a longer array, other bytes
    class Species extends Uint8Array {
      static get [Symbol.species]() { return function () { return other; }; }
    }
    const answers = [];
    for (const array of [Liar.from(bytes), Species.from(bytes)]) answers.push((await window.score2wav.convert(array, "t.txt")).stdout);
    return answers;
  });
  check(converted.every((stdout) => stdout === "2d\n"), `${where}: convert() reads the bytes themselves: ${JSON.stringify(converted)}`);
  await context.close();
}

// Drops a score file on the page, as a user's drag and drop would.
async function drop(page, bytes, name, converts = true) {
  await page.evaluate((base64, fileName) => {
    const binary = atob(base64);
    const data = new Uint8Array(binary.length);
    for (let i = 0; i < binary.length; ++i) data[i] = binary.charCodeAt(i);
    const transfer = new DataTransfer();
    transfer.items.add(new File([data], fileName, {type: "text/plain"}));
    document.body.dispatchEvent(new DragEvent("drop", {dataTransfer: transfer, bubbles: true, cancelable: true}));
  }, Buffer.from(bytes).toString("base64"), name);
  if (converts) await waitForConversion(page, name);
  else await pause(300);
}

async function checkDropAndDownload(page, where, downloads) {
  const score = fs.readFileSync(path.join(options.data, "malformed.txt"));
  await drop(page, score, "malformed.txt");
  check((await echoLines(page)).length === 5, `${where}: the dropped score's chords show`);
  if (downloads !== null) {
    for (const file of fs.readdirSync(downloads)) fs.rmSync(path.join(downloads, file));
    const saved = await download(page, "#download", downloads, "malformed.wav");
    const golden = fs.readFileSync(path.join(options.data, "malformed.wav"));
    check(saved !== null && saved.equals(golden),
          `${where}: the download is malformed.wav, the console program's bytes: ${fs.readdirSync(downloads)}`);
  }
  // The first warning selects its run of text in the editor.
  const warnings = await page.$$eval("#warnings button", (buttons) => buttons.map((button) => button.textContent));
  check(warnings[0] === '2:1: skipped "1x": an octave digit needs a note letter (d r m f s l t) after it',
        `${where}: warnings as line:col: ${warnings[0]}`);
  await page.click("#warnings li:nth-child(5) button");
  const selected = (await view(page)).selected;
  check(selected === "4s 9r1", `${where}: a warning selects its text: ${JSON.stringify(selected)}`);
  // In a score that is not UTF-8, the bytes of a skipped run select their own text.
  await drop(page, fs.readFileSync(path.join(options.data, "latin1.txt")), "latin1.txt");
  const selections = [];
  for (let i = 1; i <= 3; ++i) {
    await page.click(`#warnings li:nth-child(${i}) button`);
    selections.push((await view(page)).selected);
  }
  check(JSON.stringify(selections) === JSON.stringify(["\ufffd\ufffdx", "caf\ufffd", "\u00e9t\u00e9"]),
        `${where}: warnings select their text in a Latin-1 score: ${JSON.stringify(selections)}`);
  // A score saved as UTF-16 (here with CR LF) shows and converts as its text.
  await drop(page, Buffer.concat([Buffer.from([0xff, 0xfe]), Buffer.from("0.001\r\nété 1x 2d|", "utf16le")]), "utf16.txt");
  await page.click("#warnings li:nth-child(1) button");
  const utf16 = await view(page).then((shown) => [shown.text, shown.selected]);
  check(JSON.stringify(utf16) === JSON.stringify(["0.001\nété 1x 2d|", "été 1x"]) &&
        JSON.stringify(await echoLines(page)) === JSON.stringify(["été1x2d"]),
        `${where}: a UTF-16 score reads as its text: ${JSON.stringify(utf16)}`);
  // The notes after the last bar are marked in the editor, with their warning.
  await drop(page, Buffer.from("0.001\n1d | 2s 2m"), "bar.txt");
  const marks = (await view(page)).marks.map((mark) => [mark.text, mark.message]);
  check(JSON.stringify(marks) === JSON.stringify([["2s 2m", '2:6: 2 notes after the last bar are not played: a chord ends with "|"']]),
        `${where}: the editor marks the notes no chord plays: ${JSON.stringify(marks)}`);
  // A score named like its own output plays and downloads, with a note that the console refuses it.
  await drop(page, Buffer.from("0.001\n1d|"), "tune.wav");
  const played = await page.evaluate(() => ["message", "name-note"].map((id) => document.getElementById(id).textContent)
    .concat([document.getElementById("play").disabled || document.getElementById("download").disabled]));
  check(played[0] === "1 chord, 0:00.0 of sound: tune.wav" && /console program would refuse/.test(played[1]) && !played[2],
        `${where}: a score named tune.wav plays, with a note: ${played}`);
  if (downloads !== null) {
    const saved = await download(page, "#download", downloads, "tune.wav");
    check(saved !== null && saved.length === 52,
          `${where}: tune.wav downloads as tune.wav: ${fs.readdirSync(downloads)}`);
  }
  // Files that are no text are named so, and leave the score as it was.
  const before = (await view(page)).text;
  for (const [bytes, why] of [[fs.readFileSync(path.join(options.data, "malformed.wav")), /RIFF/],
                              [Buffer.from("0.1\n1d\0|"), /NUL/]]) {
    await drop(page, bytes, "odd.txt", false);
    const said = await page.$eval("#message", (message) => message.textContent);
    check(why.test(said) && (await view(page)).text === before, `${where}: a file that is no text is named so: ${said}`);
  }
}

// Loads a bundled example with the Example menu and its Load button.
async function loadExample(page, name) {
  const example = await page.$$eval("#examples option", (items, wanted) =>
    items.findIndex((item) => item.textContent === wanted), name);
  await page.select("#examples", String(example));
  await page.click("#load-example");
  await waitForConversion(page, name);
}

async function checkPlayAndSeek(page, where) {
  await loadExample(page, "twinkle.txt");
  const position = () => page.$eval("#picture", (canvas) => Number(canvas.getAttribute("aria-valuenow")));
  const atRest = [(await view(page)).playing, (await page.$$("#echo li.playing")).length,
                  await page.$eval("#time", (time) => time.textContent)];
  check(JSON.stringify(atRest) === JSON.stringify([null, 0, "0:00.0 / 0:17.1"]),
        `${where}: at rest nothing is marked, and a short tune's time has tenths: ${atRest}`);
  await page.focus("#play");
  await page.keyboard.press("Enter");
  await new Promise((done) => setTimeout(done, 1500));
  const moved = await position();
  check(moved > 0.3, `${where}: the playhead moves while it plays: ${moved} s`);
  check((await page.$$("#echo li.playing")).length === 1, `${where}: the chord under the playhead is marked`);
  check(await page.evaluate(() => document.activeElement.id) === "play" &&
        await page.$eval("#play", (button) => button.textContent) === "Stop",
        `${where}: Play keeps the focus and becomes Stop`);
  const highlighted = (await view(page)).playing;
  check(highlighted !== null && highlighted.length > 0, `${where}: the playing chord is highlighted in the editor: ${highlighted}`);
  await page.keyboard.press("Enter");
  // Space plays and stops from anywhere but a text field or a button.
  await page.focus("#picture");
  const spaced = [];
  for (let i = 0; i < 2; ++i) {
    await page.keyboard.press(" ");
    spaced.push(await page.$eval("#play", (button) => button.textContent));
  }
  check(JSON.stringify(spaced) === JSON.stringify(["Stop", "Play"]), `${where}: Space plays and stops: ${spaced}`);
  const box = await (await page.$("#picture")).boundingBox();
  await page.mouse.click(box.x + box.width * 0.75, box.y + box.height / 2);
  const duration = await page.$eval("#picture", (canvas) => Number(canvas.getAttribute("aria-valuemax")));
  const sought = await position();
  check(Math.abs(sought - duration * 0.75) < duration * 0.02, `${where}: clicking the picture seeks: ${sought} of ${duration}`);
}

// axe-core finds no violation with warnings on screen, on a desktop's
// window and a phone's, in light and dark colours where the browser can
// emulate them.
async function checkAccessibility(browser, url, where) {
  const axeSource = fs.readFileSync(new URL("./node_modules/axe-core/axe.min.js", import.meta.url), "utf8");
  for (const [device, viewport] of [["desktop", {width: 1280, height: 900}], ["phone", {width: 390, height: 844}]]) {
    const page = await openPage(browser, url);
    await page.setViewport(viewport);
    await drop(page, fs.readFileSync(path.join(options.data, "malformed.txt")), "malformed.txt");
    await page.addScriptTag({content: axeSource});
    for (const scheme of [null, "light", "dark"]) {
      if (scheme !== null && !(await page.emulateMediaFeatures([{name: "prefers-color-scheme", value: scheme}])
        .then(() => true, () => false))) continue;
      const found = await page.evaluate(async () => (await window.axe.run(document, {resultTypes: ["violations"]}))
        .violations.map((violation) => `${violation.id}: ${violation.nodes.map((node) => node.target).join(" ")}`));
      check(found.length === 0, `${where}: axe-core finds no violation (${device}, ${scheme || "the browser's"} colours): ${found}`);
    }
    await page.close();
  }
}

// Listens to what reaches the audio output: every source connected to it
// records the samples it plays, as the player sends them (-1 to 1).
async function listen(page) {
  await page.evaluate(() => {
    window.heard = [];
    const start = AudioBufferSourceNode.prototype.start;
    AudioBufferSourceNode.prototype.start = function (...args) {
      if (this.toOutput) window.heard.push(Array.from(this.buffer.getChannelData(0)));
      return start.apply(this, args);
    };
    const connect = AudioNode.prototype.connect;
    AudioNode.prototype.connect = function (target, ...rest) {
      if (target instanceof AudioDestinationNode) this.toOutput = true;
      return connect.call(this, target, ...rest);
    };
  });
}

// The page as an instrument: Ctrl+Enter sounds the chord at the cursor
// alone, a click on a chord in the list sounds it, Play starts at the
// cursor's chord, Loop repeats the selected chords, and a note's name shows
// on hover.
async function checkInstrument(page, where) {
  await drop(page, Buffer.from("0.01\n1d|2d 2m|\n3s|\n"), "instrument.txt");
  await listen(page);
  const samples = await page.evaluate(async () => {
    const result = await window.score2wav.convert(new TextEncoder().encode("0.01\n1d|2d 2m|\n3s|\n"), "i.txt");
    return Array.from(result.wav.subarray(44), (sample) => (sample - 128) / 128);
  });
  const size = samples.length / 3;
  const chord = (i) => samples.slice(i * size, (i + 1) * size);
  const same = (a, b) => a.length === b.length && a.every((value, i) => Math.abs(value - b[i]) < 1e-6);
  const heard = async () => page.evaluate(() => window.heard.splice(0));
  await page.evaluate(() => window.score2wavPage.view()); // the page is ready
  await page.evaluate(() => document.querySelector(".cm-content").focus());
  await page.evaluate(() => window.score2wavPage.selectText(12, 12)); // in "2d 2m"
  await pressWith(page, "Control", "Enter");
  await pause(200);
  const alone = await heard();
  check(alone.length === 1 && same(alone[0], chord(1)), `${where}: Ctrl+Enter sounds the chord at the cursor alone: ${alone.map((a) => a.length)}`);
  check((await view(page)).text === "0.01\n1d|2d 2m|\n3s|\n", `${where}: and types nothing`);
  await page.click("#echo li:nth-child(3)");
  await pause(200);
  const clicked = await heard();
  check(clicked.length === 1 && same(clicked[0], chord(2)), `${where}: a click on a chord in the list sounds it`);
  await page.evaluate(() => window.score2wavPage.selectText(17, 17)); // in "3s"
  await page.click("#play");
  await pause(500); // the tune ends
  const fromCursor = await heard();
  check(fromCursor.length === 1 && same(fromCursor[0], chord(2)),
        `${where}: Play starts at the cursor's chord: ${fromCursor.map((a) => a.length)}`);
  await page.evaluate(() => window.score2wavPage.selectText(5, 12)); // "1d|2d 2": chords 1 and 2
  await page.focus("#play");
  await page.keyboard.press("l");
  const pressed = await page.$eval("#loop", (button) => button.getAttribute("aria-pressed"));
  await page.click("#play");
  await pause(300);
  await page.click("#play");
  await page.keyboard.press("l");
  const looped = await heard();
  const twice = chord(0).concat(chord(1));
  check(pressed === "true" && looped.length >= 2 && looped.every((piece) => same(piece, twice)),
        `${where}: Loop repeats the selected chords: ${pressed} ${looped.map((a) => a.length)}`);
  const note = await page.evaluateHandle(() => [...document.querySelectorAll(".score-note")].find((span) => span.textContent === "2d"));
  await note.hover();
  const named = await page.waitForSelector(".note-name", {timeout: 3000}).then((tip) => tip.evaluate((element) => element.textContent))
    .catch(() => "no tooltip");
  check(named === "2d: A4, 440 Hz", `${where}: hovering 2d names it: ${named}`);
  await page.mouse.move(0, 0);
  await page.evaluate(() => window.score2wavPage.selectText(0, 0));
  await page.focus("#play");
}

// Over http the page can be installed (Chromium's own check finds no
// error), and after one visit it opens and converts with its server gone.
async function checkOffline(browser, label) {
  const server = await serve(pageFolder);
  const where = `${label} offline`;
  const page = await openPage(browser, server.url);
  await page.evaluate(() => navigator.serviceWorker.ready);
  if (label === "Chromium") {
    const session = await page.createCDPSession();
    const {installabilityErrors} = await session.send("Page.getInstallabilityErrors");
    check(installabilityErrors.length === 0, `${where}: the page is installable: ${JSON.stringify(installabilityErrors)}`);
  }
  await page.reload(); // now under the worker, which keeps what it serves
  await waitForConversion(page);
  server.close();
  await page.reload();
  await waitForConversion(page).catch(() => {});
  const shown = await page.evaluate(() => [document.getElementById("message").textContent, (window.score2wavPage.view() || {}).text])
    .catch((error) => [String(error), ""]);
  check(/chords?, .* of sound/.test(shown[0]) && shown[1].length > 0, `${where}: a reload with the server gone opens and converts: ${shown[0]}`);
  await page.close();
}

// The piano roll has a bar in each chord's pixel columns for each of its
// pitches, and none for the others (read from the page's data, not pixels).
async function checkPianoRoll(page, where) {
  await drop(page, Buffer.from("0.25\n1d1m|2s|0d3t 1d|"), "roll.txt");
  const view = await page.evaluate(() => {
    const shown = window.score2wavPage.view();
    return {chords: shown.chords, width: shown.roll.width, rows: Array.from(shown.roll.rows)};
  });
  const last = view.chords[view.chords.length - 1];
  const total = last.firstSample + last.sampleCount;
  const drawn = view.chords.map((chord) => {
    const x = Math.floor(((chord.firstSample + chord.sampleCount / 2) / total) * view.width);
    return Array.from({length: 48}, (_, pitch) => pitch).filter((pitch) => view.rows[pitch * view.width + x]);
  });
  const pitches = view.chords.map((chord) => [...new Set(chord.notes)].sort((a, b) => a - b));
  check(JSON.stringify(drawn) === JSON.stringify(pitches) && pitches.length === 3,
        `${where}: the piano roll shows the chords' pitches: ${JSON.stringify(drawn)} for ${JSON.stringify(pitches)}`);
}

// Every load is a step of the one undo history, with its name: Ctrl+Z with
// the focus still on Load, two Ctrl+Z after a key typed in the loaded text,
// and the Undo button. The text and its name are kept across a reload, a
// 6 MB one too; typing over an example names it untitled.txt.
async function checkWorkKept(page, where) {
  const typeInto = async (selector, text) => {
    await page.focus(selector);
    await pressWith(page, "Control", "a");
    await page.keyboard.press("Backspace"); // a key typed over many lines may leave a line end in Chromium
    await page.keyboard.type(text);
  };
  const shown = async () => {
    const {text, name} = await view(page);
    return JSON.stringify([text, name]);
  };
  const mine = JSON.stringify(["0.01\n1d2d|", "mine.txt"]);
  await typeInto(".cm-content", "0.01\n1d2d|");
  await typeInto("#score-name", "mine.txt");
  await waitForConversion(page, "mine.txt");
  await loadExample(page, "twinkle.txt"); // the focus stays on Load
  await pressWith(page, "Control", "z");
  check(await shown() === mine, `${where}: Ctrl+Z on the Load button takes the load back: ${await shown()}`);
  await pressWith(page, "Control", "y");
  await page.focus(".cm-content");
  await page.keyboard.type("x");
  for (let i = 0; i < 2; ++i) await pressWith(page, "Control", "z");
  check(await shown() === mine, `${where}: two Ctrl+Z after a key in the loaded text: ${await shown()}`);
  await loadExample(page, "twinkle.txt");
  await page.click("#undo");
  check(await shown() === mine, `${where}: the Undo button takes a load back: ${await shown()}`);
  await pause(1000); // the page keeps the text after a pause
  await page.reload();
  await waitForConversion(page, "mine.txt");
  check(await shown() === mine, `${where}: a reload keeps the text and its name: ${await shown()}`);
  const large = Buffer.from("0.001\n" + "1d1m1s 2d |\n".repeat(500000)); // 6 MB
  await drop(page, large, "large.txt");
  await pause(2000);
  await page.reload();
  await waitForConversion(page, "large.txt", 120000);
  const kept = await page.evaluate(() => [window.score2wavPage.view().text.length, document.getElementById("kept").textContent]);
  check(kept[0] === large.length && kept[1] === "", `${where}: a 6 MB score is kept across a reload: ${kept}`);
  await loadExample(page, "twinkle.txt");
  await page.focus(".cm-content");
  await page.keyboard.type(" ");
  check((await view(page)).name === "untitled.txt", `${where}: typing over an example names it untitled.txt`);
}

// Save score downloads the loaded file's own bytes while it stands
// unedited, and the text's UTF-8 once edited.
async function checkSaveScore(page, where, downloads) {
  const latin1 = fs.readFileSync(path.join(options.data, "latin1.txt"));
  await drop(page, latin1, "latin1.txt");
  const save = () => download(page, "#save-score", downloads, "latin1.txt");
  const own = await save();
  check(own !== null && own.equals(latin1),
        `${where}: Save score saves a loaded file's own bytes: ${own === null ? "none" : own.length} of ${latin1.length}`);
  await page.focus(".cm-content");
  await pressWith(page, "Control", "End");
  await page.keyboard.type("2d|");
  const edited = await save();
  const text = Buffer.from((await view(page)).text);
  check(edited !== null && edited.equals(text) && text.toString().endsWith("2d|"),
        `${where}: Save score saves the edited text as UTF-8`);
}

// Copy link: the link opens the tune and its name in a fresh page, and over
// a page's kept text as one load that Ctrl+Z takes back.
async function checkLink(browser, page, where) {
  const tune = Buffer.from("0.25 été\n1d1m|2s|");
  await drop(page, tune, "a tune+é.txt");
  await page.click("#copy-link");
  await page.waitForFunction(() => document.getElementById("link").value !== "");
  const [link, note] = await page.evaluate(() => [document.getElementById("link").value,
                                                  document.getElementById("link-note").textContent]);
  check(/#name=.*&score=[A-Za-z0-9_-]+$/.test(link) && note.includes(link.length.toLocaleString("en")),
        `${where}: Copy link shows the link and its length: ${note}`);
  const context = await browser.createBrowserContext();
  const fresh = await context.newPage();
  await fresh.goto(link);
  await waitForConversion(fresh, "a tune+é.txt");
  const opened = await fresh.evaluate(() => [window.score2wavPage.view().text, location.hash]);
  check(opened[0] === tune.toString() && opened[1] === "", `${where}: a link opens its tune in a fresh page: ${opened}`);
  await context.close();
  await loadExample(page, "frere_jacques.txt");
  await pause(1000); // kept
  await page.goto(link);
  await waitForConversion(page, "a tune+é.txt");
  await page.focus("#play");
  await pressWith(page, "Control", "z");
  const back = (await view(page)).name;
  check(back === "frere_jacques.txt", `${where}: Ctrl+Z takes a link back to the kept text: ${back}`);
  let seed = 1;
  const random = (n) => ((seed = (seed * 1103515245 + 12345) % 2147483648), seed % n);
  const chords = Array.from({length: 20000}, () => `${random(4)}${"drmfslt"[random(7)]}|`);
  await drop(page, Buffer.from("0.001\n" + chords.join("")), "long.txt");
  await page.evaluate(() => (document.getElementById("link").value = ""));
  await page.click("#copy-link");
  await page.waitForFunction(() => document.getElementById("link").value !== "");
  const warned = await page.$eval("#link-note", (note) => note.textContent);
  check(/8,000/.test(warned), `${where}: a long link is warned of: ${warned}`);
}

// A one-hour song, as bench.py writes it: 7200 chords of 0.5 s, 24 triads over and over.
function oneHourSong() {
  const triads = [];
  for (let i = 0; i < 24; ++i) {
    triads.push([0, 1, 2].map((n) => `${(i + n) % 4}${"drmfslt"[(i * 3 + n * 2) % 7]}`).join(""));
  }
  return Buffer.from("0.5 one hour\n" + Array.from({length: 7200}, (_, i) => triads[i % 24] + " |").join("\n") + "\n");
}

// No task holds the main thread for over 50 ms while a one-hour score
// (7200 lines) is loaded, converted and drawn, then typed into and
// converted again: Chromium reports long tasks; in Firefox a timer that
// runs as often as it can measures the longest gap between its runs, which
// counts the browser's own pauses too, so there it may reach 100 ms.
async function checkNoLongTasks(page, where) {
  const watched = await page.evaluate(() => {
    window.longestTask = 0;
    if (PerformanceObserver.supportedEntryTypes.includes("longtask")) {
      new PerformanceObserver((list) => {
        for (const task of list.getEntries()) window.longestTask = Math.max(window.longestTask, task.duration);
      }).observe({entryTypes: ["longtask"]});
      return "tasks";
    }
    let last = performance.now();
    const tick = () => {
      const now = performance.now();
      window.longestTask = Math.max(window.longestTask, now - last);
      last = now;
      setTimeout(tick, 0);
    };
    setTimeout(tick, 0);
    return "gaps";
  });
  await drop(page, oneHourSong(), "hour.txt");
  await pause(300);
  const loading = await page.evaluate(() => window.longestTask);
  const conversions = await page.$eval("#message", (message) => Number(message.dataset.conversions));
  await page.focus(".cm-content");
  await pressWith(page, "Control", "End");
  for (const key of ["2", "d", "|"]) await page.keyboard.press(key);
  await page.waitForFunction((count) => Number(document.getElementById("message").dataset.conversions) > count,
                             {timeout: 60000}, conversions);
  await pause(300);
  const longest = await page.evaluate(() => window.longestTask);
  const limit = watched === "tasks" ? 50 : 100;
  check(longest <= limit, `${where}: no main-thread ${watched === "tasks" ? "task" : "gap"} over ${limit} ms with a ` +
                          `one-hour score: ${loading.toFixed(0)} ms loading it, ${longest.toFixed(0)} ms in all`);
}

// Every colour pair of text and its background reads at 4.5:1 or more,
// light and dark, as the computed styles give them.
async function checkContrast(page, where) {
  for (const scheme of [null, "light", "dark"]) {
    if (scheme !== null) {
      try {
        await page.emulateMediaFeatures([{name: "prefers-color-scheme", value: scheme}]);
      } catch (error) {
        console.log(`${where}: only the browser's own colours were checked (it cannot emulate the ${scheme} ones here)`);
        return;
      }
    }
    const worst = await page.evaluate(() => {
      const parse = (text) => (text.match(/[\d.]+/g) || [0, 0, 0, 0]).map(Number).concat([1]).slice(0, 4);
      const over = (top, below) => top.slice(0, 3).map((c, i) => c * top[3] + below[i] * (1 - top[3])).concat([1]);
      const background = (element) => {
        const layers = [];
        for (let at = element; at !== null; at = at.parentElement) layers.push(parse(getComputedStyle(at).backgroundColor));
        return layers.reverse().reduce((below, layer) => over(layer, below), [255, 255, 255, 1]);
      };
      const luminance = (colour) => {
        const [r, g, b] = colour.slice(0, 3).map((c) => c / 255).map((c) => (c <= 0.03928 ? c / 12.92 : ((c + 0.055) / 1.055) ** 2.4));
        return 0.2126 * r + 0.7152 * g + 0.0722 * b;
      };
      let worst = {ratio: Infinity, what: ""};
      for (const element of document.querySelectorAll("body *")) {
        const hasText = [...element.childNodes].some((node) => node.nodeType === 3 && node.textContent.trim() !== "") ||
                        ((element.tagName === "TEXTAREA" || element.tagName === "INPUT") && element.value !== "");
        const style = getComputedStyle(element);
        const colour = parse(style.color);
        if (!hasText || element.getClientRects().length === 0 || style.visibility === "hidden" || colour[3] === 0) continue;
        const back = background(element);
        const [light, dark] = [luminance(over(colour, back)), luminance(back)].sort((a, b) => b - a);
        const ratio = (light + 0.05) / (dark + 0.05);
        if (ratio < worst.ratio) worst = {ratio, what: `${element.tagName}#${element.id}.${element.className}`};
      }
      return worst;
    });
    check(worst.ratio >= 4.5, `${where}: ${scheme || "the default"} colours read at 4.5:1 or more: ` +
                              `${worst.what} ${worst.ratio.toFixed(2)}`);
  }
  await page.emulateMediaFeatures([{name: "prefers-color-scheme", value: "light"}]);
}

// On a phone-sized window the page shows its title, the example menu, Open
// and the editor's first lines, and never scrolls the window itself.
async function checkPhone(browser, url, where) {
  const page = await browser.newPage();
  await page.setViewport({width: 390, height: 844});
  await page.goto(url);
  await forgetKept(page);
  await page.reload();
  await waitForConversion(page);
  const bottoms = await page.evaluate(() => ["h1", "#examples", "#open", "#editor"].map((selector) => {
    const box = document.querySelector(selector).getBoundingClientRect();
    return selector === "#editor" ? box.top + 80 : box.bottom; // three lines of the editor
  }));
  check(bottoms.every((bottom) => bottom <= 844), `${where}: at 390x844 the title, menu, Open and editor show: ${bottoms}`);
  await page.focus("#play");
  await page.keyboard.press("Enter");
  await new Promise((done) => setTimeout(done, 1500));
  const scrolled = await page.evaluate(() => window.scrollY);
  check(scrolled === 0, `${where}: the window does not scroll by itself on load or play: ${scrolled}`);
  // A long line wraps: neither the editor nor the window scrolls sideways.
  await drop(page, Buffer.from("0.1\n" + "1d1m1s 2d | ".repeat(200)), "wide.txt");
  const widths = await page.evaluate(() => {
    const scroller = document.querySelector(".cm-scroller");
    return [document.documentElement.scrollWidth, scroller.scrollWidth - scroller.clientWidth];
  });
  check(widths[0] <= 390 && widths[1] <= 0, `${where}: a long line wraps on a phone: ${widths}`);
  await page.close();
}

async function checkTooLarge(page, where) {
  const result = await convertInPage(page, Buffer.from("70000\n|"), "long.txt");
  check(result.status === 1 && result.stdout === "Not enough memory.\n" &&
        result.stderr === 'score2wav: "long.txt": not enough memory for a WAV of 0.6 GB\n',
        `${where}: a WAV too large for the page: ${JSON.stringify(result)}`);
  const own = await convertInPage(page, Buffer.from("0.001\n1d|"), "a.wav.wav");
  check(own.status === 1 && own.wav === null && own.stdout === "File open error as write.\n" &&
        own.failure.reason === 'score2wav: cannot write "a.wav.wav": it is the score itself',
        `${where}: a score named like its output: ${JSON.stringify(own.failure)}`);
  const format = await page.evaluate(() => window.score2wav.format);
  check(JSON.stringify(format) === JSON.stringify({sampleRate: 8000, headerSize: 44, silence: 128}),
        `${where}: score2wav.format ${JSON.stringify(format)}`);
  const formatLimit = await convertInPage(page, Buffer.from("300000\n1d|"), "long.txt");
  check(formatLimit.stdout === "Score too long.\n", `${where}: beyond the format: ${formatLimit.stdout}`);
  // Anything but score bytes and a name is refused at once, as what it is.
  const refusals = await page.evaluate(async () => {
    const tries = [[null, "a.txt"], ["0.001\n1d|", "a.txt"], [7, "a.txt"], [{}, "a.txt"],
                   [new Uint16Array(4), "a.txt"], [{length: 2 ** 32}, "a.txt"],
                   [new Uint8Array(4), 7], [new Uint8Array(4), "a.wav\0.txt"],
                   [{byteLength: 4, [Symbol.toStringTag]: "ArrayBuffer"}, "a.txt"],
                   [new ArrayBuffer(2 ** 30 + 1), "a.txt"]];
    const said = [];
    for (const [bytes, name] of tries) {
      try {
        await window.score2wav.convert(bytes, name);
        said.push("converted");
      } catch (error) {
        said.push(error.name);
      }
    }
    return said;
  });
  const refused = ["TypeError", "TypeError", "TypeError", "TypeError", "TypeError", "TypeError", "TypeError",
                   "TypeError", "TypeError", "RangeError"];
  check(JSON.stringify(refusals) === JSON.stringify(refused), `${where}: convert() refuses what is no score: ${refusals}`);
  const after = await convertInPage(page, Buffer.from("0.001\n2d2m|2m|"), "after.txt");
  check(after.status === 0 && after.wav.length === 60, `${where}: the page converts on afterwards`);
}

async function run(browser, label, url, downloads) {
  const where = `${label} ${url.split(":")[0]}`;
  const page = await openPage(browser, url);
  if (downloads !== null) {
    const session = await page.createCDPSession();
    await session.send("Browser.setDownloadBehavior", {behavior: "allow", downloadPath: downloads});
  }
  await checkGoldens(page, where);
  await checkTyping(page, where);
  await checkDropAndDownload(page, where, downloads);
  await checkPlayAndSeek(page, where);
  await checkPianoRoll(page, where);
  await checkInstrument(page, where);
  await checkTooLarge(page, where);
  await page.focus("#play");
  await page.keyboard.press("?");
  const help = await page.$eval("#help-dialog", (dialog) => dialog.open && /score format/.test(dialog.textContent));
  await page.keyboard.press("Escape");
  check(help && !(await page.$eval("#help-dialog", (dialog) => dialog.open)), `${where}: ? shows the help, Escape closes it`);
  await checkContrast(page, where);
  await checkNoLongTasks(page, where);
  await checkWorkKept(page, where);
  if (downloads !== null) await checkSaveScore(page, where, downloads);
  await checkLink(browser, page, where);
  check(page.problems.length === 0, `${where}: no script errors: ${page.problems}`);
  await page.close();
  await checkPhone(browser, url, where);
  await checkKeepRefused(browser, url, where);
  await checkTunesAndLinks(browser, url, where);
  await checkAccessibility(browser, url, where);
}

// Runs the checks in each browser and from each place, or in the one that
// --browser (chromium or firefox) and --from (file or http) name.
async function main() {
  const server = await serve(pageFolder);
  const urls = {file: pathToFileURL(path.join(pageFolder, "index.html")).href, http: server.url};
  const places = options.from ? [options.from] : ["file", "http"];
  const downloads = fs.mkdtempSync(path.join(os.tmpdir(), "score2wav-downloads-"));
  try {
    if (!options.browser || options.browser === "chromium") {
      const chromium = await launchChromium();
      try {
        for (const place of places) await run(chromium, "Chromium", urls[place], downloads);
        if (places.includes("http")) await checkOffline(chromium, "Chromium");
      } finally {
        await chromium.close();
      }
    }
    if (!options.browser || options.browser === "firefox") {
      const firefox = await launchFirefox();
      if (firefox === null) {
        console.log("Firefox ESR is not installed: the page was not tested in Firefox");
        if (options.browser === "firefox") process.exit(77);
      } else {
        try {
          for (const place of places) await run(firefox, "Firefox", urls[place], null);
          if (places.includes("http")) await checkOffline(firefox, "Firefox");
        } finally {
          await firefox.close();
        }
      }
    }
  } finally {
    server.close();
  }
  console.log(failures.length ? `page: ${failures.length} failed check(s)` : "page: all checks passed");
  process.exit(failures.length ? 1 : 0);
}

main().catch((error) => {
  console.log("FAIL: " + (error.stack || error));
  process.exit(1);
});
