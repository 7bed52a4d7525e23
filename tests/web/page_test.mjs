// The page in a real browser: every golden score through score2wav.convert,
// then the user's path (typing, a dropped file and its download, a warning
// that selects its text, Play and the moving playhead, seeking), with the
// page opened from disk (file://) and from a server on loopback; in Debian's
// Chromium, and in Firefox ESR where it is installed.
//
//   node page_test.mjs --page build-web/web --data tests/data --examples examples
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import {pathToFileURL} from "node:url";
import {convertInPage, launchChromium, launchFirefox, openPage, serve} from "./browser.mjs";

const options = {};
for (let i = 2; i < process.argv.length; i += 2) options[process.argv[i].slice(2)] = process.argv[i + 1];
const pageFolder = path.resolve(options.page);
const failures = [];

function check(condition, what) {
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
        result.chords.every((chord, i) => chord.start === i * chord.samples),
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

async function checkTyping(page, where) {
  await page.click("#score");
  await page.keyboard.down("Control");
  await page.keyboard.press("a");
  await page.keyboard.up("Control");
  await page.keyboard.type("0.001\n1d1m|2d|");
  await page.waitForFunction(() => document.querySelectorAll("#echo li").length === 2, {timeout: 10000})
    .catch(() => {});
  check(JSON.stringify(await echoLines(page)) === JSON.stringify(["1d1m", "2d"]), `${where}: typing converts: ${await echoLines(page)}`);
}

// Drops a score file on the page, as a user's drag and drop would.
async function drop(page, bytes, name) {
  await page.evaluate((base64, fileName) => {
    const binary = atob(base64);
    const data = new Uint8Array(binary.length);
    for (let i = 0; i < binary.length; ++i) data[i] = binary.charCodeAt(i);
    const transfer = new DataTransfer();
    transfer.items.add(new File([data], fileName, {type: "text/plain"}));
    document.body.dispatchEvent(new DragEvent("drop", {dataTransfer: transfer, bubbles: true, cancelable: true}));
  }, Buffer.from(bytes).toString("base64"), name);
  await page.waitForFunction((fileName) => document.getElementById("message").dataset.score === fileName,
                            {timeout: 10000}, name);
}

async function checkDropAndDownload(page, where, downloads) {
  const score = fs.readFileSync(path.join(options.data, "malformed.txt"));
  await drop(page, score, "malformed.txt");
  check((await echoLines(page)).length === 5, `${where}: the dropped score's chords show`);
  if (downloads !== null) {
    for (const file of fs.readdirSync(downloads)) fs.rmSync(path.join(downloads, file));
    await page.click("#download");
    const saved = path.join(downloads, "malformed.wav");
    for (let i = 0; i < 100 && !fs.existsSync(saved); ++i) await new Promise((done) => setTimeout(done, 100));
    const golden = fs.readFileSync(path.join(options.data, "malformed.wav"));
    check(fs.existsSync(saved) && fs.readFileSync(saved).equals(golden),
          `${where}: the download is malformed.wav, the console program's bytes: ${fs.readdirSync(downloads)}`);
  }
  // The first warning selects its run of text in the editor.
  const warnings = await page.$$eval("#warnings button", (buttons) => buttons.map((button) => button.textContent));
  check(warnings[0] === '2:1: skipped "1x"', `${where}: warnings as line:col: ${warnings[0]}`);
  await page.click("#warnings li:nth-child(5) button");
  const selected = await page.$eval("#score", (area) => area.value.slice(area.selectionStart, area.selectionEnd));
  check(selected === "4s 9r1", `${where}: a warning selects its text: ${JSON.stringify(selected)}`);
  // In a score that is not UTF-8, the bytes of a skipped run select their own text.
  await drop(page, fs.readFileSync(path.join(options.data, "latin1.txt")), "latin1.txt");
  const selections = [];
  for (let i = 1; i <= 3; ++i) {
    await page.click(`#warnings li:nth-child(${i}) button`);
    selections.push(await page.$eval("#score", (area) => area.value.slice(area.selectionStart, area.selectionEnd)));
  }
  check(JSON.stringify(selections) === JSON.stringify(["\ufffd\ufffdx", "caf\ufffd", "\u00e9t\u00e9"]),
        `${where}: warnings select their text in a Latin-1 score: ${JSON.stringify(selections)}`);
  // A score named like its own output is refused, as the console refuses it.
  await drop(page, Buffer.from("0.001\n1d|"), "tune.wav");
  const refused = await page.$eval("#message", (message) => message.textContent);
  check(refused === 'File open error as write.\nscore2wav: cannot write "tune.wav": it is the score itself' &&
        await page.$eval("#download", (button) => button.disabled), `${where}: tune.wav is refused: ${refused}`);
}

async function checkPlayAndSeek(page, where) {
  const example = await page.$$eval("#examples option", (items) => items.findIndex((item) => item.textContent === "twinkle.txt"));
  await page.select("#examples", String(example));
  await page.waitForFunction(() => document.getElementById("score-name").textContent === "twinkle.txt" &&
                             !document.getElementById("play").disabled, {timeout: 10000});
  const position = () => page.$eval("#picture", (canvas) => Number(canvas.getAttribute("aria-valuenow")));
  await page.click("#play");
  await new Promise((done) => setTimeout(done, 1500));
  const moved = await position();
  check(moved > 0.3, `${where}: the playhead moves while it plays: ${moved} s`);
  check((await page.$$("#echo li.playing")).length === 1, `${where}: the chord under the playhead is marked`);
  await page.click("#stop");
  const box = await (await page.$("#picture")).boundingBox();
  await page.mouse.click(box.x + box.width * 0.75, box.y + box.height / 2);
  const duration = await page.$eval("#picture", (canvas) => Number(canvas.getAttribute("aria-valuemax")));
  const sought = await position();
  check(Math.abs(sought - duration * 0.75) < duration * 0.02, `${where}: clicking the picture seeks: ${sought} of ${duration}`);
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
  await checkTooLarge(page, where);
  check(page.problems.length === 0, `${where}: no script errors: ${page.problems}`);
  await page.close();
}

async function main() {
  const server = await serve(pageFolder);
  const fileUrl = pathToFileURL(path.join(pageFolder, "index.html")).href;
  const downloads = fs.mkdtempSync(path.join(os.tmpdir(), "score2wav-downloads-"));
  try {
    const chromium = await launchChromium();
    try {
      await run(chromium, "Chromium", fileUrl, downloads);
      await run(chromium, "Chromium", server.url, downloads);
    } finally {
      await chromium.close();
    }
    const firefox = await launchFirefox();
    if (firefox === null) {
      console.log("Firefox ESR is not installed: the page was tested in Chromium only");
    } else {
      try {
        await run(firefox, "Firefox", fileUrl, null);
        await run(firefox, "Firefox", server.url, null);
      } finally {
        await firefox.close();
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
