// The chords' echo lines, as the console shows them, in a list that holds
// only the rows in view: a score of a million chords costs no more than one
// of ten.
import {chordsOf, fieldsOf} from "./records.js";

// Returns the list of the chords of a worker's data in the list element
// list, which the element view scrolls.
export function createChordList(view, list) {
  let result = null;
  let rows = 0; // the kept chords, and a last row for those not kept
  let rowHeight = 0;
  let marked = -1;

  function render() {
    if (rowHeight === 0) {
      const probe = document.createElement("li");
      probe.textContent = "0";
      list.append(probe);
      rowHeight = probe.getBoundingClientRect().height || 20;
      probe.remove();
    }
    const first = Math.max(0, Math.floor(view.scrollTop / rowHeight) - 2);
    const end = Math.min(rows, first + Math.ceil(view.clientHeight / rowHeight) + 5);
    const kept = result.chordTable.length / fieldsOf("chord").count;
    const chords = chordsOf(result, first, Math.min(end, kept));
    list.style.paddingTop = first * rowHeight + "px";
    list.style.height = rows * rowHeight + "px";
    list.textContent = "";
    for (let i = first; i < end; ++i) {
      const item = document.createElement("li");
      if (i < kept) {
        item.value = i + 1;
        item.textContent = chords[i - first].text;
        if (i === marked) {
          item.className = "playing";
          item.setAttribute("aria-current", "true");
        }
      } else {
        item.className = "more";
        item.textContent = `… and ${result.chordCount - kept} chords more`;
      }
      list.append(item);
    }
  }

  view.addEventListener("scroll", () => result !== null && render());
  return {
    show(newResult) {
      result = newResult;
      const kept = result.chordTable.length / fieldsOf("chord").count;
      rows = kept + (result.chordCount > kept ? 1 : 0);
      marked = -1;
      view.scrollTop = 0;
      render();
    },
    // Marks a chord's row (none for -1) and scrolls the list, not the window, to it.
    mark(chord) {
      marked = chord;
      if (chord >= 0 && rowHeight > 0) {
        const top = chord * rowHeight;
        if (top < view.scrollTop || top + rowHeight > view.scrollTop + view.clientHeight) {
          view.scrollTop = Math.max(0, top - view.clientHeight / 2);
        }
      }
      if (result !== null) render();
    },
  };
}

