// The score editor: a text area with a gutter of line numbers beside it, and
// the selection of a stretch of the score given in the file's own terms
// (line, byte column, bytes), as the warnings name it.
(function () {
  "use strict";
  const page = (window.score2wavPage = window.score2wavPage || {});

  // Returns the text area's index of the byte at offset in the score's bytes:
  // the text area holds their UTF-8 decoding with every CR LF or lone CR
  // turned into LF, as the browser does.
  function textIndexOf(bytes, offset) {
    const before = new TextDecoder().decode(bytes.subarray(0, offset));
    return before.replace(/\r\n?/g, "\n").length;
  }

  // Returns the byte offset of a 1-based line and byte column: a line ends
  // at each LF (a CR LF is one character, the last of its line).
  function byteOffsetOf(bytes, line, column) {
    let start = 0;
    for (let seen = 1; seen < line; ++seen) {
      const lineFeed = bytes.indexOf(10, start);
      if (lineFeed < 0) return bytes.length;
      start = lineFeed + 1;
    }
    return Math.min(start + column - 1, bytes.length);
  }

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
      // Selects length bytes of the score's bytes from line and column, and
      // scrolls them into view.
      selectBytes(bytes, line, column, length) {
        const start = byteOffsetOf(bytes, line, column);
        const end = Math.min(start + length, bytes.length);
        textarea.focus();
        textarea.setSelectionRange(textIndexOf(bytes, start), textIndexOf(bytes, end));
        const lineHeight = textarea.scrollHeight / Math.max(lineCount, 1);
        textarea.scrollTop = Math.max(0, (line - 3) * lineHeight);
        gutter.scrollTop = textarea.scrollTop;
      },
    };
  };
})();
