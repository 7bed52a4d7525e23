// Sending the tune on: downloading the WAV or the score, and links that
// carry the score, copied, shared, and opened.
import {createConverter} from "./converter.js";
import {linkLimit, linkOf, scoreOfLink} from "./keeping.js";

const element = (id) => document.getElementById(id);
const longLink = 8000; // characters: some mail and chat programs cut longer links

// Returns the page's ways of sending its tune on; score is {bytes(),
// name(), load(bytes, name, origin), notice(text)}, the page's current
// score and how it loads one and says a word.
export function createSharing(score) {
  let linkConverter = null; // a worker of its own inflates links, made on first use

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
    const name = score.name();
    downloadBytes(score.bytes(), /\.wav$/i.test(name) ? name + ".txt" : name, "text/plain");
  }

  // Puts the score in a link, copies it, and shows it with its length.
  async function copyLink() {
    let link;
    try {
      link = await linkOf(score.bytes(), score.name(), location.href);
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
      await navigator.share({title: score.name(), url: link});
    } catch (error) {
      // Shared nothing (the user closed the sheet): the link is still shown.
    }
  }

  // Opens the score of the page's link, if it has one, as one undoable
  // load over the text there was; then drops the fragment, so that a
  // reload shows the kept text, edits and all, not the link afresh.
  async function openLink() {
    if (location.hash.length < 2) return;
    if (linkConverter === null) linkConverter = createConverter(false);
    try {
      const linked = await scoreOfLink(location.hash, (packed, limit) => linkConverter.inflate(packed, limit));
      if (linked !== null) score.load(linked.bytes, linked.name || "", "link");
    } catch (error) {
      const megabytes = linkLimit / (1024 * 1024);
      score.notice(error.reason === "name" ? "This link's score was not opened: its name holds a NUL character. The score stays as it was."
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

  return {downloadBytes, saveScore, copyLink, share, openLink};
}
