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
  page.offsetMap = function (bytes) {
    const places = [{offset: 0, units: 0, need: 0, seen: 0, low: 0x80, high: 0xbf, cr: false}];
    return function (offset) {
      const target = Math.max(0, Math.min(offset, bytes.length));
      while (places[places.length - 1].offset + mapStep <= target) {
        const last = places[places.length - 1];
        places.push(decodeTo(bytes, last, last.offset + mapStep));
      }
      const from = places[Math.min(places.length - 1, Math.floor(target / mapStep))];
      const state = from.offset <= target ? from : places[0];
      const reached = decodeTo(bytes, state, target);
      // A sequence cut short at target is one U+FFFD before it.
      const cut = reached.need > 0 && !(bytes[target] >= reached.low && bytes[target] <= reached.high);
      return reached.units + (cut ? 1 : 0);
    };
  };

  page.createEditor = function (textarea, gutter) {
    let lineCount = 0;

    // Keeps one number per line in the gutter, scrolled with the text.
    function number() {
      const lines = textarea.value.split("\n").length;
      if (lines !== lineCount) {
        const numbers = [];
        for (let i = 1; i <= lines; ++i) numbers.push(i);
        gutter.textContent = numbers.join("\n");
        lineCount = lines;
      }
      gutter.scrollTop = textarea.scrollTop;
    }

    textarea.addEventListener("input", number);
    textarea.addEventListener("scroll", () => (gutter.scrollTop = textarea.scrollTop));

    return {
      text: () => textarea.value,
      setText(text) {
        textarea.value = text;
        textarea.scrollTop = 0;
        number();
      },
      onEdit(handler) {
        textarea.addEventListener("input", handler);
      },
      // Selects the text from index start to end, and scrolls it into view.
      select(start, end) {
        textarea.focus();
        textarea.setSelectionRange(start, end);
        const line = textarea.value.slice(0, start).split("\n").length;
        const lineHeight = textarea.scrollHeight / Math.max(lineCount, 1);
        textarea.scrollTop = Math.max(0, (line - 3) * lineHeight);
        gutter.scrollTop = textarea.scrollTop;
      },
    };
  };
})();
