// Starting the system's browsers headless, and serving the page on loopback:
// what the page's tests, its screenshot and its benchmark share.
import fs from "node:fs";
import http from "node:http";
import os from "node:os";
import path from "node:path";
import puppeteer from "puppeteer-core";

// Launches Debian's Chromium (never a downloaded one) headless; as root it
// needs --no-sandbox, and the background services stay off on a closed network.
export async function launchChromium() {
  const args = ["--headless=new", "--disable-gpu", "--no-first-run", "--disable-background-networking",
                "--disable-component-update", "--disable-sync", "--autoplay-policy=no-user-gesture-required"];
  if (process.getuid && process.getuid() === 0) args.push("--no-sandbox");
  return puppeteer.launch({
    executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
    args,
    userDataDir: fs.mkdtempSync(path.join(os.tmpdir(), "score2wav-chromium-")),
  });
}

// Launches Debian's Firefox ESR headless, if it is installed; null otherwise.
export async function launchFirefox() {
  const executablePath = process.env.FIREFOX || "/usr/bin/firefox-esr";
  if (!fs.existsSync(executablePath)) return null;
  return puppeteer.launch({
    browser: "firefox",
    executablePath,
    headless: true,
    extraPrefsFirefox: {"media.autoplay.default": 0, "media.autoplay.blocking_policy": 0},
  });
}

const types = {".html": "text/html", ".js": "text/javascript", ".css": "text/css", ".png": "image/png",
               ".webmanifest": "application/manifest+json"};

// Serves the folder on 127.0.0.1 at a free port; returns {url, close}.
export function serve(folder) {
  const server = http.createServer((request, response) => {
    const name = decodeURIComponent(new URL(request.url, "http://x").pathname);
    const file = path.join(folder, name === "/" ? "index.html" : name);
    if (!file.startsWith(folder) || !fs.existsSync(file) || fs.statSync(file).isDirectory()) {
      response.writeHead(404);
      response.end();
      return;
    }
    response.writeHead(200, {"Content-Type": types[path.extname(file)] || "application/octet-stream"});
    fs.createReadStream(file).pipe(response);
  });
  return new Promise((resolve) => {
    server.listen(0, "127.0.0.1", () => {
      resolve({url: `http://127.0.0.1:${server.address().port}/`, close: () => {
        server.close();
        server.closeAllConnections(); // kept-alive connections too: the server is gone
      }});
    });
  });
}

// Opens the page afresh (nothing kept from an earlier visit, unless keep)
// and waits until it has converted its first score.
export async function openPage(browser, url, fresh = true) {
  const page = await browser.newPage();
  const problems = [];
  page.on("pageerror", (error) => problems.push(String(error)));
  await page.goto(url);
  if (fresh) {
    await forgetKept(page);
    await page.reload();
  }
  await waitForConversion(page);
  page.problems = problems;
  return page;
}

// Forgets what the page kept from earlier visits (its IndexedDB, local
// and session storage).
export async function forgetKept(page) {
  await page.evaluate(() => new Promise((done) => {
    localStorage.clear();
    sessionStorage.clear();
    const request = indexedDB.deleteDatabase("score2wav");
    request.onsuccess = request.onerror = () => done();
  }));
}

// Waits until the page shows a conversion of the score named name (any, if none).
export async function waitForConversion(page, name, timeout = 60000) {
  await page.waitForFunction((scoreName) => {
    const score = document.getElementById("message").dataset.score;
    return score !== undefined && (scoreName === undefined || score === scoreName);
  }, {timeout}, name);
}

// Converts score bytes in the page with score2wav.convert. The WAV and the
// console's bytes come back as Buffers (the WAV null on failure), the rest
// as the page gives it.
export async function convertInPage(page, bytes, name) {
  const result = await page.evaluate(async (base64, scoreName) => {
    const binary = atob(base64);
    const input = new Uint8Array(binary.length);
    for (let i = 0; i < binary.length; ++i) input[i] = binary.charCodeAt(i);
    const started = performance.now();
    const out = await window.score2wav.convert(input, scoreName);
    const milliseconds = performance.now() - started;
    const encode = (data) => {
      if (data === null) return null;
      let text = "";
      for (let i = 0; i < data.length; i += 32768) text += String.fromCharCode.apply(null, data.subarray(i, i + 32768));
      return btoa(text);
    };
    return Object.assign({}, out, {wav: encode(out.wav), stdoutBytes: encode(out.stdoutBytes),
                                   stderrBytes: encode(out.stderrBytes), milliseconds});
  }, Buffer.from(bytes).toString("base64"), name);
  for (const key of ["wav", "stdoutBytes", "stderrBytes"]) {
    result[key] = result[key] === null ? null : Buffer.from(result[key], "base64");
  }
  return result;
}
