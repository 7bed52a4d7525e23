// The page with bench.py's one-hour scores, and Ode to Joy with the typo
// "300" for its chord length (a 77 MB WAV), in headless Chromium. Prints,
// for each: the median time of score2wav.convert; the time from a key to the
// next paint (median and 95th percentile of 20 keys typed at the end of the
// loaded score); the longest main-thread task while it is typed into,
// converted and drawn (and apart, while the file is loaded into the editor
// and while the editor moves to its end); and how long after its conversion ends the picture of the sound
// is on screen; and, for the first score, how long after a key its sound
// starts: Ctrl+Enter's chord alone, and Play (Space). Measured, not asserted.
//
//   node bench/web_bench.mjs build-web/page [runs]
// (needs the page's test packages: npm ci --prefix tests/web)
import {execFileSync} from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import {fileURLToPath, pathToFileURL} from "node:url";
import {convertInPage, launchChromium, openPage, waitForConversion} from "../tests/web/browser.mjs";

const here = path.dirname(fileURLToPath(import.meta.url));
const [pageFolder, runsText] = process.argv.slice(2);
const runs = Number(runsText || 11);
const folder = fs.mkdtempSync(path.join(os.tmpdir(), "score2wav-web-bench-"));
const scores = execFileSync("python3", [path.join(here, "bench.py"), "--write-scores", folder])
  .toString().trim().split("\n");
const ode = fs.readFileSync(path.join(here, "..", "examples", "ode_to_joy.txt"), "latin1");
const typo = path.join(folder, "ode_300.txt");
fs.writeFileSync(typo, "300" + ode.slice(ode.indexOf(" ")), "latin1");

const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
const percentile95 = (values) => [...values].sort((a, b) => a - b)[Math.ceil(values.length * 0.95) - 1];

// Watches the main thread: the longest task of each phase (window.benchPhase:
// load, jump or use), and each key's time to the next paint.
function watch() {
  window.benchLongest = {load: 0, jump: 0, use: 0};
  window.benchKeys = [];
  window.benchPhase = "load";
  new PerformanceObserver((list) => {
    const phase = window.benchPhase;
    for (const task of list.getEntries()) window.benchLongest[phase] = Math.max(window.benchLongest[phase], task.duration);
  }).observe({entryTypes: ["longtask"]});
  document.addEventListener("keydown", (event) => {
    const pressed = event.timeStamp;
    requestAnimationFrame(() => setTimeout(() => window.benchKeys.push(performance.now() - pressed), 0));
  }, true);
}

async function drop(page, file) {
  await page.evaluate((base64, name) => {
    const binary = atob(base64);
    const bytes = new Uint8Array(binary.length);
    for (let i = 0; i < binary.length; ++i) bytes[i] = binary.charCodeAt(i);
    const transfer = new DataTransfer();
    transfer.items.add(new File([bytes], name));
    document.body.dispatchEvent(new DragEvent("drop", {dataTransfer: transfer, bubbles: true, cancelable: true}));
  }, fs.readFileSync(file).toString("base64"), path.basename(file));
  await waitForConversion(page, path.basename(file), 120000);
}

// Loads the score, moves to its end, types 20 keys there, and waits for
// their conversion.
async function usePage(page, file) {
  const pause = () => new Promise((done) => setTimeout(done, 300));
  await page.evaluate(watch);
  await drop(page, file);
  await pause();
  const shown = await page.evaluate(() => ((window.benchPhase = "jump"), window.score2wavPage.timings));
  await page.focus(".cm-content");
  await page.keyboard.down("Control");
  await page.keyboard.press("End");
  await page.keyboard.up("Control");
  await pause();
  await page.evaluate(() => (window.benchPhase = "use"));
  const conversions = await page.$eval("#message", (message) => Number(message.dataset.conversions));
  for (let key = 0; key < 20; ++key) {
    await page.keyboard.press(key % 2 ? "d" : "1");
    await new Promise((done) => setTimeout(done, 60));
  }
  await page.waitForFunction((count) => Number(document.getElementById("message").dataset.conversions) > count,
                             {timeout: 120000}, conversions);
  await new Promise((done) => setTimeout(done, 500));
  const measured = await page.evaluate(() => ({keys: window.benchKeys, longest: window.benchLongest}));
  return Object.assign(measured, {picture: shown.pictureReady});
}

// Returns the median time, over tries, from a key (Ctrl+Enter in the
// editor, or Space on the picture) to the first sound it starts.
async function soundLatency(page) {
  await page.evaluate(() => {
    const start = AudioBufferSourceNode.prototype.start;
    AudioBufferSourceNode.prototype.start = function (...args) {
      if (window.benchStartedAt === null) window.benchStartedAt = performance.now();
      return start.apply(this, args);
    };
    document.addEventListener("keydown", (event) => {
      window.benchKeyAt = event.timeStamp;
      window.benchStartedAt = null;
    }, true);
  });
  const tries = {audition: [], play: []};
  for (let i = 0; i < 5; ++i) {
    await page.focus(".cm-content");
    await page.keyboard.down("Control");
    await page.keyboard.press("Enter");
    await page.keyboard.up("Control");
    await new Promise((done) => setTimeout(done, 300));
    tries.audition.push(await page.evaluate(() => window.benchStartedAt - window.benchKeyAt));
    await page.focus("#picture");
    await page.keyboard.press(" ");
    await new Promise((done) => setTimeout(done, 300));
    tries.play.push(await page.evaluate(() => window.benchStartedAt - window.benchKeyAt));
    await page.keyboard.press(" ");
  }
  return {audition: median(tries.audition), play: median(tries.play)};
}

const browser = await launchChromium();
try {
  const url = pathToFileURL(path.resolve(pageFolder, "index.html")).href;
  for (const score of scores.concat([typo])) {
    const page = await openPage(browser, url);
    const name = path.basename(score);
    let line = name;
    if (score !== typo) {
      const bytes = fs.readFileSync(score);
      const times = [];
      for (let run = 0; run <= runs; ++run) {
        const result = await convertInPage(page, bytes, name);
        if (run > 0) times.push(result.milliseconds); // the first run warms up
      }
      line += `: convert ${median(times).toFixed(1)} ms (median of ${runs})`;
    }
    const used = await usePage(page, score);
    // Chromium reports only tasks over 50 ms: 0 means none.
    const task = (milliseconds) => (milliseconds === 0 ? "none over 50 ms" : `${milliseconds.toFixed(0)} ms`);
    line += `; key to paint ${median(used.keys).toFixed(1)} ms median, ${percentile95(used.keys).toFixed(1)} ms 95th` +
            `; longest main-thread task ${task(used.longest.use)} typing, converting and drawing` +
            ` (${task(used.longest.load)} loading the file into the editor,` +
            ` ${task(used.longest.jump)} moving to its end)` +
            `; picture ${used.picture.toFixed(1)} ms after the conversion`;
    if (score === scores[0]) {
      const latency = await soundLatency(page);
      line += `; sound starts ${latency.audition.toFixed(1)} ms after Ctrl+Enter, ${latency.play.toFixed(1)} ms after Play`;
    }
    console.log(line);
    await page.close();
  }
} finally {
  await browser.close();
  fs.rmSync(folder, {recursive: true});
}
