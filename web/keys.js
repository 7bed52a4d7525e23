// The keys of the whole page, outside the editor and the text fields.
import {historyKey} from "./editor/editor.js";

const element = (id) => document.getElementById(id);

// Whether keys typed at a node are its own: a text field's, a list's.
function typesText(node) {
  if (!(node instanceof Element)) return false;
  if (node.isContentEditable || node.closest("textarea, select, [contenteditable]")) return true;
  return node.tagName === "INPUT" && !["button", "checkbox", "radio", "range", "file"].includes(node.type);
}

// Returns the handler of the keys for the whole page: Ctrl+Z and redo
// outside the editor (which has its own) and other text fields; Space plays
// and stops, ? shows the help, L turns Loop on or off. page is {editor(),
// togglePlay(), toggleLoop()}.
export function pageKeys(page) {
  return (event) => onKey(page, event);
}

function onKey(page, event) {
  const editor = page.editor();
  const target = event.target;
  if (typesText(target) || editor.holds(target) || element("help-dialog").open) return;
  const which = historyKey(event);
  if (which !== null) {
    event.preventDefault();
    if (which === "undo") editor.undo();
    else editor.redo();
    return;
  }
  if (event.ctrlKey || event.metaKey || event.altKey) return;
  if (event.key === " " && !(target instanceof Element && target.closest("button, a, summary"))) {
    event.preventDefault();
    if (!element("play").disabled) page.togglePlay();
  } else if (event.key === "?") {
    event.preventDefault();
    element("help-dialog").showModal();
  } else if (event.key === "l" || event.key === "L") {
    if (target instanceof Element && target.closest("select")) return; // a letter picks an option there
    event.preventDefault();
    page.toggleLoop();
  }
}

