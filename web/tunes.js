// The tunes the page keeps, as the page shows them: keeping the one being
// edited after a pause, the recent ones to open again, a word when the
// browser refuses or another tab changed the tune, and the score to start
// with.
import {createKeeper, newTuneId} from "./keeping.js";

const element = (id) => document.getElementById(id);
const keepPause = 500; // milliseconds without a change before keeping the text
const recentCount = 30; // kept tunes offered again

// Returns the tunes of a page {editor(), edits(), notice(text)}: its
// editor (null before it is made), how many edits it has seen, and how it
// says a word.
export function createTunes(page) {
  const keeper = createKeeper();
  let keepTimer = 0;
  let recentStale = false; // a tune was kept since the list was filled
  const refreshRecent = () => recentStale && showRecent();
  element("recent").addEventListener("focus", refreshRecent);
  element("recent").addEventListener("pointerdown", refreshRecent);

  // Keeps the text, its name and a loaded file's bytes as its tune, for
  // the next visit; says so beside the editor when the browser refuses.
  async function keepNow() {
    clearTimeout(keepTimer);
    keepTimer = 0;
    const editor = page.editor();
    const info = editor.info();
    const edits = page.edits();
    try {
      await keeper.keep(info.tune, {text: editor.text(), name: info.name, origin: info.origin, bytes: info.bytes});
      if (edits === page.edits()) showKept("");
      recentStale = true;
      element("open-recent").disabled = false;
    } catch (error) {
      showKept(`This text is not kept in the browser (${error && error.name ? error.name : error}): ` +
               "the copy kept before stays, and a reload would show that one. Save score keeps this one as a file.", true);
    }
  }

  // Fills the list of recent tunes, the last edited first. Reading them
  // reads their texts too: so it is done at the start and when the list is
  // reached for after a keep, never at every pause in the typing.
  async function showRecent() {
    recentStale = false;
    const tunes = await keeper.recent(recentCount);
    const list = element("recent");
    const chosen = list.value;
    list.replaceChildren(...tunes.map((tune) => {
      const option = document.createElement("option");
      option.value = tune.id;
      option.textContent = `${tune.name || "untitled.txt"}, ${new Date(tune.edited).toLocaleString()}`;
      return option;
    }));
    if (tunes.some((tune) => tune.id === chosen)) list.value = chosen;
    element("open-recent").disabled = tunes.length === 0;
  }

  // Opens a kept tune, as one undoable load over the text there was.
  async function openRecent() {
    const tune = await keeper.open(element("recent").value);
    if (tune === null) {
      page.notice("That tune is no longer kept in this browser. The score stays as it was.");
      showRecent();
      return;
    }
    const bytes = tune.bytes instanceof Uint8Array ? tune.bytes : null;
    page.editor().load(tune.text, {name: tune.name, origin: tune.origin || "user", bytes, tune: tune.id});
  }

  // Says so when another tab keeps the tune this one shows: the later edit
  // wins, and the version it replaces stays among the recent tunes.
  function changedElsewhere(id) {
    recentStale = true;
    const editor = page.editor();
    if (editor === null || id !== editor.info().tune) return;
    showKept("This tune was changed in another tab. An edit here replaces that version, which then stays " +
             "among the recent tunes.", true);
  }

  function keepSoon() {
    clearTimeout(keepTimer);
    keepTimer = setTimeout(keepNow, keepPause);
  }

  function showKept(text, failed = false) {
    const kept = element("kept");
    kept.textContent = text;
    kept.className = failed ? "note failure" : "note";
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
      return {text: example.text, info: {name: example.name, origin: "example", bytes: null, tune: newTuneId()}};
    }
    const bytes = kept.bytes instanceof Uint8Array ? kept.bytes : null;
    const tune = typeof kept.id === "string" ? kept.id : newTuneId();
    return {text: kept.text, info: {name: kept.name, origin: kept.origin || "user", bytes, tune}};
  }

  keeper.onElsewhere(changedElsewhere);
  return {keepNow, keepSoon, showRecent, openRecent, startingScore, pending: () => keepTimer !== 0};
}
