// The score editor: CodeMirror 6 with the score's colours, the conversion's
// warnings as diagnostics, the chord at the playhead marked, and one undo
// history that holds loads as well as typing, with the score's name and
// the loaded file's own bytes going back and forth with them.
import {EditorState, Prec, StateEffect, StateField, Transaction} from "@codemirror/state";
import {Decoration, EditorView, ViewPlugin, drawSelection, highlightActiveLine, hoverTooltip, keymap,
        lineNumbers} from "@codemirror/view";
import {defaultKeymap, history, historyKeymap, invertedEffects, isolateHistory, redo, redoDepth, undo,
        undoDepth} from "@codemirror/commands";
import {forEachDiagnostic, lintGutter, setDiagnostics} from "@codemirror/lint";
import {highlightSelectionMatches, search, searchKeymap} from "@codemirror/search";

import {noteName} from "../note_names.js";

// What the text is, beside its characters: {name, origin, bytes, tune}.
// origin says where the name came from (example, file, link, user,
// untitled); bytes are a loaded file's own, while its text stands unedited,
// else null; tune is the kept tune the text is saved as, so that an undo
// of a load saves the text back where it came from.
const setInfo = StateEffect.define();

const scoreInfo = StateField.define({
  create: () => ({name: "score.txt", origin: "example", bytes: null}),
  update(info, tr) {
    let next = info;
    // An undo of typing merged with the first key after a load carries
    // several infos, newest first: the last is the oldest, the one to restore.
    for (const effect of tr.effects) if (effect.is(setInfo)) next = effect.value;
    if (next !== info || !tr.docChanged) return next;
    // Typing makes the text the user's: no file's bytes, and an example typed over is untitled.
    if (info.origin === "example") return {name: "untitled.txt", origin: "untitled", bytes: null, tune: info.tune};
    return info.bytes === null ? info : Object.assign({}, info, {bytes: null});
  },
});

// Undo and redo put back the info a transaction replaced.
const infoHistory = invertedEffects.of((tr) => {
  const before = tr.startState.field(scoreInfo);
  return tr.state.field(scoreInfo) === before ? [] : [setInfo.of(before)];
});

// The chord at the playhead: a range of the text, or none.
const setPlaying = StateEffect.define();
const playingMark = Decoration.mark({class: "cm-playing"});

const playing = StateField.define({
  create: () => Decoration.none,
  update(marks, tr) {
    for (const effect of tr.effects) {
      if (effect.is(setPlaying)) {
        const range = effect.value;
        return range === null || range.to <= range.from ? Decoration.none
          : Decoration.set([playingMark.range(range.from, range.to)]);
      }
    }
    return tr.docChanged ? Decoration.none : marks; // the text it marked has changed
  },
  provide: (field) => EditorView.decorations.from(field),
});

const noteAt = /^[0-3][ \t]*[drmfslt]([ \t]*[b#])?/i;
const blankOrBar = /[ \t|]/;

// Returns the score's colours for one line, [{from, to, kind}] in the
// line's own offsets: on the first line its number and the rest; after it
// notes (an octave digit, a letter, a flat or sharp), bars, and other text,
// which the converter skips.
function scoreTokens(text, first) {
  const tokens = [];
  if (first) {
    const length = /^\s*[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?/.exec(text);
    const end = length === null ? 0 : length[0].length;
    if (end > 0) tokens.push({from: 0, to: end, kind: "length"});
    if (end < text.length) tokens.push({from: end, to: text.length, kind: "header"});
    return tokens;
  }
  let at = 0;
  while (at < text.length) {
    const c = text[at];
    if (c === " " || c === "\t") {
      ++at;
    } else if (c === "|") {
      tokens.push({from: at, to: ++at, kind: "bar"});
    } else {
      const note = noteAt.exec(text.slice(at, at + 8));
      let end = at + (note === null ? 1 : note[0].length);
      if (note === null) { // skipped: up to a blank, a bar or the start of a note
        while (end < text.length && !blankOrBar.test(text[end]) && !noteAt.test(text.slice(end, end + 8))) ++end;
      }
      tokens.push({from: at, to: end, kind: note === null ? "skipped" : "note"});
      at = end;
    }
  }
  return tokens;
}

const tokenMarks = {};
for (const kind of ["length", "header", "note", "bar", "skipped"]) tokenMarks[kind] = Decoration.mark({class: "score-" + kind});

// Returns the colours of the lines in view: only those are drawn, so a
// long score costs no more than a short one.
function colours(view) {
  const marks = [];
  const doc = view.state.doc;
  for (const {from, to} of view.visibleRanges) {
    for (let number = doc.lineAt(from).number; number <= doc.lines; ++number) {
      const line = doc.line(number);
      if (line.from > to) break;
      for (const token of scoreTokens(line.text, number === 1)) {
        marks.push(tokenMarks[token.kind].range(line.from + token.from, line.from + token.to));
      }
    }
  }
  return Decoration.set(marks);
}

const scoreColours = ViewPlugin.fromClass(class {
  constructor(view) {
    this.decorations = colours(view);
  }

  update(update) {
    if (update.docChanged || update.viewportChanged) this.decorations = colours(update.view);
  }
}, {decorations: (plugin) => plugin.decorations});

// Names the note under the pointer ("2d: A4, 440 Hz") on every line but
// the first, which only gives the chord length.
const noteNames = hoverTooltip((view, pos) => {
  const line = view.state.doc.lineAt(pos);
  if (line.number === 1) return null;
  for (const token of scoreTokens(line.text, false)) {
    if (token.kind !== "note" || pos < line.from + token.from || pos >= line.from + token.to) continue;
    const name = noteName(line.text.slice(token.from, token.to));
    if (name === null) return null;
    return {
      pos: line.from + token.from,
      end: line.from + token.to,
      above: true,
      create() {
        const dom = document.createElement("div");
        dom.className = "note-name";
        dom.textContent = name;
        return {dom};
      },
    };
  }
  return null;
});

// Returns whether a key event is Ctrl+Z (or Cmd+Z), and which way: "undo", "redo" or null.
export function historyKey(event) {
  if (!(event.ctrlKey || event.metaKey) || event.altKey) return null;
  const key = event.key.toLowerCase();
  if (key === "z") return event.shiftKey ? "redo" : "undo";
  if (key === "y" && !event.shiftKey) return "redo";
  return null;
}

// Makes the editor in parent. onChange(update) runs after every change of
// the text or its info, with {docChanged, info, loaded, history}: loaded
// when the change was a load, history when it was an undo or redo.
// hooks.onCursor(from, to) runs when the selection moves; hooks.onAudition()
// when Ctrl+Enter (Cmd+Enter on a Mac) asks to hear the chord at the cursor.
export function createEditor(parent, text, info, onChange, hooks = {}) {
  const view = new EditorView({
    parent,
    state: EditorState.create({
      doc: text,
      extensions: [
        scoreInfo.init(() => info),
        infoHistory,
        history(),
        lineNumbers(),
        drawSelection(),
        highlightActiveLine(),
        EditorView.lineWrapping,
        scoreColours,
        lintGutter(),
        playing,
        search({top: true}),
        highlightSelectionMatches(),
        Prec.highest(keymap.of([{key: "Mod-Enter", run: () => (hooks.onAudition ? (hooks.onAudition(), true) : false)}])),
        keymap.of([...searchKeymap, ...historyKeymap, ...defaultKeymap]),
        noteNames,
        EditorView.contentAttributes.of({"aria-label": "Score", spellcheck: "false", autocorrect: "off",
                                         autocapitalize: "off"}),
        EditorView.updateListener.of((update) => {
          if (update.selectionSet && hooks.onCursor) {
            const {from, to} = update.state.selection.main;
            hooks.onCursor(from, to);
          }
          const before = update.startState.field(scoreInfo);
          const after = update.state.field(scoreInfo);
          if (!update.docChanged && before === after) return;
          onChange({
            docChanged: update.docChanged,
            info: after,
            loaded: update.transactions.some((t) => t.isUserEvent("input.load")),
            history: update.transactions.some((t) => t.isUserEvent("undo") || t.isUserEvent("redo")),
          });
        }),
      ],
    }),
  });

  const editor = {
    view,
    text: () => view.state.doc.toString(),
    info: () => view.state.field(scoreInfo),
    // Replaces the whole text as one step of the history, with its info.
    load(newText, newInfo) {
      view.dispatch({
        changes: {from: 0, to: view.state.doc.length, insert: newText},
        selection: {anchor: 0},
        effects: [setInfo.of(newInfo), setPlaying.of(null), EditorView.scrollIntoView(0)],
        annotations: [isolateHistory.of("full"), Transaction.userEvent.of("input.load")],
      });
    },
    // Renames the text; a rename is no step of the history.
    rename(name, origin) {
      const info = view.state.field(scoreInfo);
      view.dispatch({effects: setInfo.of(Object.assign({}, info, {name, origin})),
                     annotations: Transaction.addToHistory.of(false)});
    },
    undo: () => undo(view),
    redo: () => redo(view),
    canUndo: () => undoDepth(view.state) > 0,
    canRedo: () => redoDepth(view.state) > 0,
    // Shows warnings, [{from, to, message}] in text indexes, as diagnostics.
    mark(warnings) {
      const length = view.state.doc.length;
      const diagnostics = warnings.filter((w) => w.to > w.from && w.to <= length)
        .map((w) => ({from: w.from, to: w.to, severity: "warning", message: w.message}));
      view.dispatch(setDiagnostics(view.state, diagnostics));
    },
    // Marks the text from start to end as playing (none if start < 0).
    highlight(start, end) {
      const range = start < 0 || end > view.state.doc.length ? null : {from: start, to: end};
      view.dispatch({effects: setPlaying.of(range)});
    },
    // The selection's text indexes, {from, to} (equal for a cursor).
    selection: () => ({from: view.state.selection.main.from, to: view.state.selection.main.to}),
    // Selects the text from start to end, in view, and puts the focus there.
    select(start, end) {
      const length = view.state.doc.length;
      const from = Math.min(start, length);
      view.dispatch({selection: {anchor: from, head: Math.min(end, length)},
                     effects: EditorView.scrollIntoView(from, {y: "center"})});
      view.focus();
    },
    focus: () => view.focus(),
    // What it shows, for scripts that check it: the selected text, the
    // marked warnings [{text, message}], the playing chord's text or null.
    selected: () => view.state.sliceDoc(view.state.selection.main.from, view.state.selection.main.to),
    marks() {
      const marks = [];
      forEachDiagnostic(view.state, (d, from, to) => marks.push({text: view.state.sliceDoc(from, to), message: d.message}));
      return marks;
    },
    playing() {
      const cursor = view.state.field(playing).iter();
      return cursor.value === null ? null : view.state.sliceDoc(cursor.from, cursor.to);
    },
    // Whether a node lies inside the editor.
    holds: (node) => view.dom.contains(node),
  };
  return editor;
}
