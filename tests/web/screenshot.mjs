// Saves a picture of the page with an example loaded and half played, for
// the README:  node tests/web/screenshot.mjs build-web/web docs/web.png
import path from "node:path";
import {pathToFileURL} from "node:url";
import {launchChromium, openPage} from "./browser.mjs";

const [pageFolder, output] = process.argv.slice(2);
const browser = await launchChromium();
try {
  const page = await openPage(browser, pathToFileURL(path.resolve(pageFolder, "index.html")).href);
  await page.setViewport({width: 1280, height: 860});
  await page.evaluate(() => window.dispatchEvent(new Event("resize")));
  // A click halfway along the picture puts the playhead, and the chord
  // under it, in view.
  const box = await (await page.$("#picture")).boundingBox();
  await page.mouse.click(box.x + box.width * 0.42, box.y + box.height / 2);
  await page.screenshot({path: output});
  console.log("saved " + output);
} finally {
  await browser.close();
}
