// The score's bytes and the editor's text: the text the converter reads
// from a file's bytes, and where a byte offset of it falls in the editor's
// text (UTF-16 units, each line end one LF), for the records' offsets.

// How far apart the offset map keeps its places, in bytes.
const mapStep = 65536;

// A UTF-8 decoder as the browser's TextDecoder works (each invalid
// sequence one U+FFFD, a leading byte-order mark dropped), counting the
// UTF-16 units of the text it makes, with every CR LF or lone CR one LF,
// as the editor holds it. state is {offset, units, need, seen, low, high, cr}.
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

// Returns the text of a score's bytes as the converter reads it: the
// bytes after a UTF-8 mark, or a UTF-16 file's text (after its mark) in
// UTF-8, each unit that is no character (a lone surrogate, an odd last
// byte) the byte FF; any other score's bytes as they are.
export function scoreText(bytes) {
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
}

// Returns a function that maps a byte offset of the score (at a character
// boundary, or its end) to an index into the editor's text; the places
// it passes are kept, so that each stretch of the score is decoded once.
export function offsetMap(bytes) {
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
}
