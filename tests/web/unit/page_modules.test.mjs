// The page's modules that need no browser, under Node's own test runner:
// note names, links, and the records as the core's layout names their
// fields. (Where a record stands in the editor the core works out: see
// tests/editor_offsets_test.cpp.)
import assert from "node:assert/strict";
import test from "node:test";

import {linkOf, scoreOfLink} from "../../../web/keeping.js";
import {noteName, pitchName} from "../../../web/note_names.js";
import {chordsOf, fieldsOf, takeLayout, warningsOf} from "../../../web/records.js";

test("notes are named as a musician reads them: d is A, and octaves change at C", () => {
  assert.equal(noteName("2d"), "2d: A4, 440 Hz");
  assert.equal(noteName("0d"), "0d: A2, 110 Hz");
  assert.equal(noteName("2 m"), "2m: C♯5, 554.4 Hz");
  assert.equal(noteName("1f#"), "1f#: D♯4, 311.1 Hz");
  assert.equal(noteName("3t"), "3t: G♯6, 1661.2 Hz");
  assert.equal(noteName("0db"), "0db: outside the notes 0d to 3t");
  assert.equal(noteName("2x"), null);
  assert.deepEqual([0, 3, 12, 47].map(pitchName), ["A2", "C3", "A3", "G♯6"]);
});

test("a link carries its score and name, and a bad one is refused with its reason", async () => {
  // As the worker inflates: {bytes}, or {error} for what is no whole score.
  const inflate = async (packed, limit) => {
    try {
      const bytes = Uint8Array.from(Buffer.from(packed, "base64url"));
      const out = new Uint8Array(await new Response(new Blob([bytes]).stream()
        .pipeThrough(new DecompressionStream("deflate-raw"))).arrayBuffer());
      return out.length > limit ? {error: "large"} : {bytes: out};
    } catch (error) {
      return {error: "cut"};
    }
  };
  const score = new TextEncoder().encode("0.25 été\n1d1m|2s|");
  const link = await linkOf(score, "a tune+é.txt", "https://example.org/page/#old");
  assert.match(link, /^https:\/\/example\.org\/page\/#name=a%20tune%2B%C3%A9\.txt&score=[A-Za-z0-9_-]+$/);
  const opened = await scoreOfLink(link.slice(link.indexOf("#")), inflate);
  assert.equal(opened.name, "a tune+é.txt");
  assert.deepEqual(opened.bytes, score);
  assert.equal(await scoreOfLink("#name=x.txt", inflate), null);
  await assert.rejects(scoreOfLink(`#name=a%00b&score=${link.split("score=")[1]}`, inflate), {reason: "name"});
  await assert.rejects(scoreOfLink("#score=AAAA", inflate), {reason: "cut"});
  await assert.rejects(scoreOfLink(`#score=${link.split("score=")[1]}`, async () => ({error: "large"})), {reason: "large"});
});

test("records are read by the names the core's layout gives their fields", () => {
  takeLayout({
    chord: ["firstSample", "sampleCount", "offset", "length", "line", "column", "echoStart", "echoLength",
            "notesStart", "noteCount", "editorFrom", "editorTo"],
    warning: ["kind", "offset", "length", "line", "column", "textStart", "textLength", "editorFrom", "editorTo"],
    warningKinds: ["zeroLength", "negativeLength", "skipped"],
  });
  assert.equal(fieldsOf("chord").count, 12);
  const data = {
    chordTable: Float64Array.from([0, 8, 6, 5, 2, 1, 0, 4, 0, 2, 6, 11, 8, 8, 11, 2, 2, 6, 5, 2, -1, 0, 11, 13]),
    stdoutBytes: new TextEncoder().encode("2d2m\n\n"),
    notes: Int16Array.from([24, 28]),
    warningTable: Float64Array.from([2, 6, 2, 2, 1, 0, 8, 6, 8]),
    warningText: new TextEncoder().encode("skipped!"),
  };
  assert.deepEqual(chordsOf(data, 0, 2), [
    {text: "2d2m", firstSample: 0, sampleCount: 8, line: 2, column: 1, offset: 6, length: 5, editorFrom: 6,
     editorTo: 11, notes: [24, 28]},
    {text: "", firstSample: 8, sampleCount: 8, line: 2, column: 6, offset: 11, length: 2, editorFrom: 11,
     editorTo: 13, notes: null},
  ]);
  assert.deepEqual(warningsOf(data), [{kind: "skipped", line: 2, column: 1, offset: 6, length: 2, editorFrom: 6,
                                       editorTo: 8, text: "skipped!"}]);
});
