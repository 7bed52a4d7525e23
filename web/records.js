// The records the core publishes (chords and warnings) as the page reads
// them: their fields' names come from the core's own layout, the same
// names as its records (firstSample, sampleCount, ...), one name a field on
// its whole way from the C++ record to the picture.
let layout = null; // the records' layout, as the core publishes it: field names in order
let fields = null; // of each kind of record: where each field stands by name, and count

// Takes the layout the core publishes, once.
export function takeLayout(published) {
  if (layout !== null) return;
  layout = published;
  fields = {};
  for (const kind of ["chord", "warning"]) {
    fields[kind] = {count: layout[kind].length};
    layout[kind].forEach((name, index) => (fields[kind][name] = index));
  }
}

// Returns where each field of a kind of record ("chord" or "warning")
// stands, by name, and how many there are (count).
export const fieldsOf = (kind) => fields[kind];

// Returns the chords of a worker's data as records.
export function chordsOf(data, first, end) {
  const field = fieldsOf("chord");
  if (end <= first) return [];
  // The echo lines in one decoding (console text is UTF-8, other bytes
  // show as U+FFFD; a line's end ends any sequence, so each line reads as
  // if decoded alone).
  const echoFrom = data.chordTable[first * field.count + field.echoStart];
  const last = (end - 1) * field.count;
  const echoEnd = data.chordTable[last + field.echoStart] + data.chordTable[last + field.echoLength];
  const lines = new TextDecoder().decode(data.stdoutBytes.subarray(echoFrom, echoEnd)).split("\n");
  const chords = [];
  for (let i = first * field.count; i < end * field.count; i += field.count) {
    const value = (name) => data.chordTable[i + field[name]];
    const notesStart = value("notesStart");
    chords.push({
      text: lines[chords.length],
      firstSample: value("firstSample"), sampleCount: value("sampleCount"), line: value("line"),
      column: value("column"),
      offset: value("offset"), length: value("length"),
      editorFrom: value("editorFrom"), editorTo: value("editorTo"),
      notes: notesStart < 0 ? null : Array.from(data.notes.subarray(notesStart, notesStart + value("noteCount"))),
    });
  }
  return chords;
}

// Returns the warnings of a worker's data as records.
export function warningsOf(data) {
  const decoder = new TextDecoder();
  const field = fieldsOf("warning");
  const warnings = [];
  for (let i = 0; i < data.warningTable.length; i += field.count) {
    const value = (name) => data.warningTable[i + field[name]];
    const textStart = value("textStart");
    const text = decoder.decode(data.warningText.subarray(textStart, textStart + value("textLength")));
    warnings.push({kind: layout.warningKinds[value("kind")], line: value("line"), column: value("column"),
                   offset: value("offset"), length: value("length"), editorFrom: value("editorFrom"),
                   editorTo: value("editorTo"), text});
  }
  return warnings;
}

// Turns a worker's data into what convert() promises.
export function presentResult(data) {
  const decoder = new TextDecoder();
  return {
    wav: data.wav,
    stdout: decoder.decode(data.stdoutBytes),
    stderr: decoder.decode(data.stderrBytes),
    status: data.status,
    outputName: data.outputName,
    stdoutBytes: data.stdoutBytes,
    stderrBytes: data.stderrBytes,
    chords: chordsOf(data, 0, data.chordTable.length / fieldsOf("chord").count),
    chordCount: data.chordCount,
    warnings: warningsOf(data),
    failure: data.status === 0 ? null : {message: data.failureMessage, reason: data.failureReason},
  };
}

