// The score editor: a text area with a gutter of line numbers beside it, and
// the selection of a stretch of the score given in the file's own terms
// (byte offset and length), as the conversion's records name it.
(function () {
  "use strict";
  const page = (window.score2wavPage = window.score2wavPage || {});

  // How far apart the offset map keeps its places, in bytes.
  const mapStep = 65536;

  // A UTF-8 decoder as the browser's TextDecoder works (each invalid
  // sequence one U+FFFD, a leading byte-order mark dropped), counting the
  // UTF-16 units of the text it makes, with every CR LF or lone CR one LF,
  // as a text area holds it. state is {offset, units, need, seen, low, high, cr}.
  function decodeTo(bytes, state, end) {
    let {offset, units, need, seen, low, high, cr} = state;
    if (offset === 0 && end >= 3 && bytes[0] === 0xef && bytes[1] === 0xbb && bytes[2] === 0xbf) {
      offset = 3; // the byte-order mark makes no text
    }
    const emit = (count, isCr, isLf) => {
      if (!(isLf && cr)) units += count; // the LF of a CR LF adds nothing
      cr = isCr;
    };
    while (offset < end) {
      const byte = bytes[offset];
      if (need === 0) {
        ++offset;
        if (byte < 0x80) emit(1, byte === 13, byte === 10);
        else if (byte >= 0xc2 && byte <= 0xdf) [need, low, high] = [1, 0x80, 0xbf];
        else if (byte >= 0xe0 && byte <= 0xef) [need, low, high] = [2, byte === 0xe0 ? 0xa0 : 0x80, byte === 0xed ? 0x9f : 0xbf];
        else if (byte >= 0xf0 && byte <= 0xf4) [need, low, high] = [3, byte === 0xf0 ? 0x90 : 0x80, byte === 0xf4 ? 0x8f : 0xbf];
        else emit(1, false, false);
        seen = 0;
        continue;
      }
      if (byte < low || byte > high) {
        need = 0; // the byte starts afresh after the U+FFFD
        emit(1, false, false);
        continue;
      }
      ++offset;
      [low, high] = [0x80, 0xbf];
      if (++seen === need) {
        emit(need === 3 ? 2 : 1, false, false); // four bytes make a surrogate pair
        need = 0;
      }
    }
    return {offset, units, need, seen, low, high, cr};
  }

  // Returns a function that maps a byte offset of the score (at a character
  // boundary, or its end) to an index into the text area's text; the places
  // it passes are kept, so that each stretch of the score is decoded once.
  // Returns the text of a score's bytes as the converter reads it: the
  // bytes after a UTF-8 mark, or a UTF-16 file's text (after its mark) in
  // UTF-8, each unit that is no character (a lone surrogate, an odd last
  // byte) the byte FF; any other score's bytes as they are.
  page.scoreText = function (bytes) {
    if (bytes[0] === 0xef && bytes[1] === 0xbb && bytes[2] === 0xbf) return bytes.subarray(3);
    const little = bytes[0] === 0xff && bytes[1] === 0xfe;
    if (!little && !(bytes[0] === 0xfe && bytes[1] === 0xff)) return bytes;
    const out = new Uint8Array(Math.floor((bytes.length - 2) / 2) * 3 + 1);
    const unitAt = (i) => (little ? bytes[i] | (bytes[i + 1] << 8) : (bytes[i] << 8) | bytes[i + 1]);
    let used = 0;
    const put = (byte) => { out[used++] = byte; };
    let i = 2;
    for (; i + 1 < bytes.length; i += 2) {
      let code = unitAt(i);
      if (code >= 0xd800 && code < 0xdc00 && i + 3 < bytes.length && unitAt(i + 2) >= 0xdc00 && unitAt(i + 2) < 0xe000) {
        code = 0x10000 + ((code - 0xd800) << 10) + (unitAt(i + 2) - 0xdc00);
        i += 2;
      } else if (code >= 0xd800 && code < 0xe000) {
        code = -1; // no character
      }
      if (code < 0) put(0xff);
      else if (code < 0x80) put(code);
      else if (code < 0x800) { put(0xc0 | (code >> 6)); put(0x80 | (code & 0x3f)); }
      else if (code < 0x10000) { put(0xe0 | (code >> 12)); put(0x80 | ((code >> 6) & 0x3f)); put(0x80 | (code & 0x3f)); }
      else { put(0xf0 | (code >> 18)); put(0x80 | ((code >> 12) & 0x3f)); put(0x80 | ((code >> 6) & 0x3f)); put(0x80 | (code & 0x3f)); }
    }
    if (i < bytes.length) put(0xff); // an odd last byte
    return out.subarray(0, used);
  };

  page.offsetMap = function (bytes) {
    const places = [{offset: 0, units: 0, need: 0, seen: 0, low: 0x80, high: 0xbf, cr: false}];
    let last = places[0]; // where the last question left the decoder: the next is often further on
    return function (offset) {
      const target = Math.max(0, Math.min(offset, bytes.length));
      while (places[places.length - 1].offset + mapStep <= target) {
        const end = places[places.length - 1];
        places.push(decodeTo(bytes, end, end.offset + mapStep));
      }
      const place = places[Math.min(places.length - 1, Math.floor(target / mapStep))];
      const from = last.offset <= target && last.offset > place.offset ? last : place;
      const reached = decodeTo(bytes, from, target);
      last = reached;
      // A sequence cut short at target is one U+FFFD before it.
      const cut = reached.need > 0 && !(bytes[target] >= reached.low && bytes[target] <= reached.high);
      return reached.units + (cut ? 1 : 0);
    };
  };

  // The editor: the text area, the line numbers beside it (only those in
  // view), and under its text the marks of skipped text (each with its
  // warning as the tooltip) and the highlight of the chord at the playhead.
  // Marks and highlight are drawn on copies of their own lines only, laid
  // under the text area's, so that a long score costs them nothing.
  // parts: {textarea, gutterLines, marks, highlights}.
  page.createEditor = function (parts) {
    const {textarea, gutterLines, marks, highlights} = parts;
    let lineCount = 1;
    let lineStarts = null; // text index of each line's start, for the marks; null: not yet
    let metrics = null; // {lineHeight, left, top}: where the text area draws its lines
    let shownFirst = -1;
    let shownCount = 0;
    let takeBack = null; // what a load replaced, while the loaded text stands

    function measure() {
      const style = getComputedStyle(textarea);
      metrics = {lineHeight: parseFloat(style.lineHeight) || 16, left: parseFloat(style.paddingLeft) || 0,
                 top: parseFloat(style.paddingTop) || 0};
      return metrics;
    }

    // Numbers the lines in view, and keeps marks and gutter scrolled with the text.
    function follow() {
      const {lineHeight, top} = metrics || measure();
      const first = Math.max(0, Math.floor((textarea.scrollTop - top) / lineHeight));
      const count = Math.min(lineCount - first, Math.ceil(textarea.clientHeight / lineHeight) + 2);
      if (first !== shownFirst || count !== shownCount) {
        const numbers = [];
        for (let i = first + 1; i <= first + count; ++i) numbers.push(i);
        gutterLines.textContent = numbers.join("\n");
        shownFirst = first;
        shownCount = count;
      }
      gutterLines.style.transform = `translateY(${top + first * lineHeight - textarea.scrollTop}px)`;
      gutterLines.style.lineHeight = lineHeight + "px";
      for (const layer of [marks, highlights]) {
        layer.style.transform = `translate(${-textarea.scrollLeft}px, ${-textarea.scrollTop}px)`;
      }
    }

    let following = 0;
    function followSoon() {
      if (following === 0) following = requestAnimationFrame(() => ((following = 0), follow()));
    }

    function textChanged() {
      let lines = 1;
      const text = textarea.value;
      for (let at = text.indexOf("\n"); at >= 0; at = text.indexOf("\n", at + 1)) ++lines;
      lineCount = lines;
      lineStarts = null;
      shownFirst = -1;
      marks.textContent = "";
      highlights.textContent = "";
      followSoon();
    }

    // Returns the line (0-based) that holds a text index.
    function lineOf(index) {
      if (lineStarts === null) {
        lineStarts = [0];
        const text = textarea.value;
        for (let at = text.indexOf("\n"); at >= 0; at = text.indexOf("\n", at + 1)) lineStarts.push(at + 1);
      }
      let low = 0;
      let high = lineStarts.length - 1;
      while (low < high) {
        const middle = (low + high + 1) >> 1;
        if (lineStarts[middle] <= index) low = middle;
        else high = middle - 1;
      }
      return low;
    }

    // Returns a copy of a line of the text, laid where the text area shows it.
    function copyOfLine(line) {
      const {lineHeight, left, top} = metrics || measure();
      const copy = document.createElement("div");
      copy.className = "line";
      copy.style.top = top + line * lineHeight + "px";
      copy.style.left = left + "px";
      const end = line + 1 < lineStarts.length ? lineStarts[line + 1] - 1 : textarea.value.length;
      copy.textContent = textarea.value.slice(lineStarts[line], end);
      return copy;
    }

    // Calls visit(line, start, end) for each line's part of the text from start to end.
    function eachLine(start, end, visit) {
      for (let line = lineOf(start); line < lineStarts.length && lineStarts[line] <= end; ++line) {
        const lineEnd = line + 1 < lineStarts.length ? lineStarts[line + 1] - 1 : textarea.value.length;
        const from = Math.max(start, lineStarts[line]);
        const to = Math.min(end, lineEnd);
        if (to > from || start === end) visit(line, from, to);
      }
    }

    textarea.addEventListener("input", () => {
      if (takeBack !== null && textarea.value !== takeBack.loaded) takeBack = null;
      textChanged();
    });
    textarea.addEventListener("scroll", follow);
    window.addEventListener("resize", () => ((metrics = null), followSoon()));
    // The tooltip of the mark under the pointer.
    textarea.addEventListener("mousemove", (event) => {
      if (marks.firstChild === null) return;
      textarea.style.pointerEvents = "none";
      const under = document.elementFromPoint(event.clientX, event.clientY);
      textarea.style.pointerEvents = "";
      const mark = under && under.closest ? under.closest("mark") : null;
      textarea.title = mark ? mark.dataset.warning : "";
    });

    const editor = {
      text: () => textarea.value,
      // Puts text in the editor; onTakeBack runs if Ctrl+Z takes the load back.
      load(text, onTakeBack) {
        const before = textarea.value;
        editor.setText(text);
        takeBack = {text: before, loaded: textarea.value, onTakeBack: onTakeBack}; // newlines as the area holds them
      },
      setText(text) {
        textarea.value = text;
        textarea.scrollTop = 0;
        textarea.scrollLeft = 0;
        textChanged();
      },
      onEdit(handler) {
        textarea.addEventListener("input", handler);
      },
      // Marks stretches of the text, {start, end, title} with text indexes in
      // order, on copies of their lines.
      mark(stretches) {
        marks.textContent = "";
        const copies = new Map(); // line -> {copy, at}
        for (const stretch of stretches) {
          eachLine(stretch.start, stretch.end, (line, from, to) => {
            if (!copies.has(line)) copies.set(line, {copy: copyOfLine(line), parts: []});
            copies.get(line).parts.push({from, to, title: stretch.title});
          });
        }
        for (const [line, {copy, parts}] of copies) {
          const text = copy.textContent;
          const start = lineStarts[line];
          copy.textContent = "";
          let at = 0;
          for (const part of parts) {
            if (part.from - start < at) continue;
            copy.append(text.slice(at, part.from - start));
            const mark = document.createElement("mark");
            mark.dataset.warning = part.title;
            mark.textContent = text.slice(part.from - start, part.to - start);
            copy.append(mark);
            at = part.to - start;
          }
          copy.append(text.slice(at));
          marks.append(copy);
        }
        follow();
      },
      // Highlights the text from index start to end (none if start < 0).
      highlight(start, end) {
        highlights.textContent = "";
        if (start < 0) return;
        const boxes = [];
        eachLine(start, end, (line, from, to) => {
          const copy = copyOfLine(line);
          highlights.append(copy);
          const text = copy.firstChild || copy.appendChild(document.createTextNode(""));
          const range = document.createRange();
          range.setStart(text, from - lineStarts[line]);
          range.setEnd(text, to - lineStarts[line]);
          const frame = copy.getBoundingClientRect();
          for (const rect of range.getClientRects()) {
            boxes.push({left: rect.left - frame.left + copy.offsetLeft, top: copy.offsetTop,
                        width: Math.max(rect.width, 2), height: metrics.lineHeight});
          }
        });
        for (const place of boxes) {
          const box = document.createElement("div");
          box.className = "box";
          Object.assign(box.style, {left: place.left + "px", top: place.top + "px", width: place.width + "px",
                                    height: place.height + "px"});
          highlights.append(box);
        }
      },
      // Selects the text from index start to end, and scrolls it into view
      // inside the editor (never the window).
      select(start, end) {
        textarea.focus({preventScroll: true});
        textarea.setSelectionRange(start, end);
        const {lineHeight} = metrics || measure();
        textarea.scrollTop = Math.max(0, (lineOf(start) - 2) * lineHeight);
        follow();
      },
    };

    // Ctrl+Z right after a load takes the load back.
    textarea.addEventListener("keydown", (event) => {
      const undo = (event.ctrlKey || event.metaKey) && !event.shiftKey && event.key.toLowerCase() === "z";
      if (!undo || takeBack === null || textarea.value !== takeBack.loaded) return;
      event.preventDefault();
      const back = takeBack;
      takeBack = null;
      editor.setText(back.text);
      back.onTakeBack();
    });
    textChanged();
    return editor;
  };
})();
