// The one-hour scores of bench.py converted in the page, in headless
// Chromium: median times of score2wav.convert (printed, not asserted).
//
//   node bench/web_bench.mjs build-web/web [runs]
// (needs the page's test packages: npm ci --prefix tests/web)
import {execFileSync} from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import {fileURLToPath, pathToFileURL} from "node:url";
import {convertInPage, launchChromium, openPage} from "../tests/web/browser.mjs";

const here = path.dirname(fileURLToPath(import.meta.url));
const [pageFolder, runsText] = process.argv.slice(2);
const runs = Number(runsText || 11);
const folder = fs.mkdtempSync(path.join(os.tmpdir(), "score2wav-web-bench-"));
const scores = execFileSync("python3", [path.join(here, "bench.py"), "--write-scores", folder])
  .toString().trim().split("\n");

const browser = await launchChromium();
try {
  const page = await openPage(browser, pathToFileURL(path.resolve(pageFolder, "index.html")).href);
  for (const score of scores) {
    const bytes = fs.readFileSync(score);
    const times = [];
    let wavBytes = 0;
    for (let run = 0; run <= runs; ++run) {
      const result = await convertInPage(page, bytes, path.basename(score));
      wavBytes = result.wav.length;
      if (run > 0) times.push(result.milliseconds); // the first run warms up
    }
    times.sort((a, b) => a - b);
    console.log(`${path.basename(score)}: ${wavBytes} bytes of WAV, median of ${runs} runs ` +
                `${times[Math.floor(times.length / 2)].toFixed(1)} ms in the page`);
  }
} finally {
  await browser.close();
  fs.rmSync(folder, {recursive: true});
}
