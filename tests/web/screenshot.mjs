// Saves pictures of the page for the README: a wide window with Ode to Joy
// loaded and the playhead halfway, and a phone's window as the page opens.
// The Debian package carries them: they are compressed as well as they go.
//   node tests/web/screenshot.mjs build-web/page docs/web.png docs/web-phone.png
import {execFileSync} from "node:child_process";
import path from "node:path";
import {pathToFileURL} from "node:url";
import {launchChromium, openPage, waitForConversion} from "./browser.mjs";

const [pageFolder, wide, phone] = process.argv.slice(2);
const url = pathToFileURL(path.resolve(pageFolder, "index.html")).href;
const browser = await launchChromium();
try {
  const page = await openPage(browser, url);
  await page.setViewport({width: 1280, height: 860});
  await page.evaluate(() => window.dispatchEvent(new Event("resize")));
  await new Promise((done) => setTimeout(done, 1000)); // the picture, redrawn at the new size
  // A click on the piano roll, a little before the middle, puts the playhead,
  // and the chord under it, in view.
  const box = await (await page.$("#picture")).boundingBox();
  await page.mouse.click(box.x + box.width * 0.42, box.y + box.height * 0.7);
  await page.screenshot({path: wide});
  console.log("saved " + wide);
  if (phone) {
    const small = await browser.newPage();
    await small.setViewport({width: 390, height: 844});
    await small.goto(url);
    await waitForConversion(small);
    await small.screenshot({path: phone});
    console.log("saved " + phone);
  }
} finally {
  await browser.close();
}
// Losslessly smaller, where zopflipng (Debian package zopfli) is at hand.
for (const file of [wide, phone].filter(Boolean)) {
  try {
    execFileSync("zopflipng", ["-y", "-m", file, file], {stdio: "ignore"});
  } catch (error) {
    console.log(`${file} left as Chromium saved it (zopflipng is not installed)`);
  }
}
