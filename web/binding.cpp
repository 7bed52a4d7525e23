// The page's way into the conversion core: C functions its script calls on
// the WebAssembly module. A conversion's results (the WAV, the console's
// exact bytes, and the chords and warnings as records) stay in the module's
// memory until the script has copied them and released them.
#include <emscripten/emscripten.h>

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "driver/conversion.h"
#include "driver/editor_offsets.h"
#include "driver/memory_conversion.h"
#include "driver/messages.h"
#include "driver/output_path.h"
#include "sound/wave_format.h"

namespace {

// The records the page keeps at most: enough for hours of sound, without
// letting a score of millions of bars fill the page's memory.
constexpr std::size_t chordLimit = 1u << 20;
constexpr std::size_t noteLimit = 1u << 24;
constexpr std::size_t warningLimit = 128;

// A chord as the page's script reads it: numbers, each a double.
struct PageChord {
  double firstSample;
  double sampleCount;
  double offset;  // file offset and byte length of its text, through its bar
  double length;
  double line;
  double column;
  double echoStart;  // where its echo line starts in standard output's bytes
  double echoLength;
  double notesStart;  // its notes in the notes array (-1: not kept, past noteLimit)
  double noteCount;
  double editorFrom;  // where its text stands in the page's editor (UTF-16 units)
  double editorTo;
};

// A warning as the page's script reads it.
struct PageWarning {
  double kind;  // WarningKind
  double offset;
  double length;
  double line;  // 0 for the count of warnings not shown
  double column;
  double textStart;  // what it says, in the warnings' text
  double textLength;
  double editorFrom;  // where what it is about stands in the page's editor (UTF-16 units)
  double editorTo;
};

// The records' layout, which the core publishes once (score2wavLayout) and
// the scripts read by name: the fields of each record in order, and the
// warning kinds by their number.
constexpr const char* chordFieldNames[] = {"firstSample", "sampleCount", "offset",     "length",
                                           "line",        "column",      "echoStart",  "echoLength",
                                           "notesStart",  "noteCount",   "editorFrom", "editorTo"};
static_assert(sizeof(PageChord) ==
                  sizeof chordFieldNames / sizeof *chordFieldNames * sizeof(double),
              "a name for every field of a chord");
constexpr const char* warningFieldNames[] = {"kind",       "offset",     "length",
                                             "line",       "column",     "textStart",
                                             "textLength", "editorFrom", "editorTo"};
static_assert(sizeof(PageWarning) ==
                  sizeof warningFieldNames / sizeof *warningFieldNames * sizeof(double),
              "a name for every field of a warning");
constexpr const char* warningKindNames[] = {
    "zeroLength",        "negativeLength",  "skipped",        "hidden",    "barOnFirstLine",
    "notesAfterLastBar", "notesWithoutBar", "noPlayableNote", "longChord", "noChord"};
static_assert(sizeof warningKindNames / sizeof *warningKindNames ==
                  static_cast<std::size_t>(WarningKind::noChord) + 1,
              "a name for every kind of warning");

// Appends names as a JSON array of strings (they need no escaping).
template <std::size_t count>
void appendNames(std::string& json, const char* const (&names)[count]) {
  json += '[';
  for (std::size_t i = 0; i < count; ++i) json += std::string(i ? ",\"" : "\"") + names[i] + '"';
  json += ']';
}

struct PageConversion {
  MemoryConversion conversion;
  std::string outputName;  // where the console program would write the WAV
  std::vector<PageChord> chords;
  double chordCount = 0;  // all of them, kept or not
  double echoStart = 0;   // where the next echo line starts in standard output
  double echoLength = 0;  // bytes of the echo line being written
  std::vector<std::int16_t> notes;
  std::vector<PageWarning> warnings;
  std::string warningText;
  std::string failureMessage;
  std::string failureReason;
};

// Counts the echo's bytes: standard output holds them as they come.
void countEcho(void* context, const char*, std::size_t length) {
  static_cast<PageConversion*>(context)->echoLength += static_cast<double>(length);
}

void keepChord(void* context, const ChordRecord& chord) {
  auto& page = *static_cast<PageConversion*>(context);
  double echoStart = page.echoStart;
  double echoLength = page.echoLength;
  page.echoStart += echoLength + 1.0;  // and the line's end
  page.echoLength = 0;
  ++page.chordCount;
  if (page.chords.size() == chordLimit) return;
  bool notesKept = page.notes.size() + static_cast<std::size_t>(chord.noteCount) <= noteLimit;
  PageChord kept{static_cast<double>(chord.firstSample),
                 static_cast<double>(chord.sampleCount),
                 static_cast<double>(chord.offset),
                 static_cast<double>(chord.length),
                 static_cast<double>(chord.position.line),
                 static_cast<double>(chord.position.column),
                 echoStart,
                 echoLength,
                 notesKept ? static_cast<double>(page.notes.size()) : -1.0,
                 static_cast<double>(chord.noteCount),
                 static_cast<double>(chord.offset),  // byte offsets until placeInEditor
                 static_cast<double>(chord.offset + chord.length)};
  if (notesKept) page.notes.insert(page.notes.end(), chord.notes, chord.notes + chord.noteCount);
  page.chords.push_back(kept);
}

void keepWarning(void* context, const WarningRecord& warning) {
  auto& page = *static_cast<PageConversion*>(context);
  if (page.warnings.size() == warningLimit) return;
  TextOutput text;
  std::string said;
  text.sink = stringSink(said);
  putWarningText(text, warning);
  flushText(text);
  bool placed = hasPlace(warning.kind);
  page.warnings.push_back(
      PageWarning{static_cast<double>(warning.kind), static_cast<double>(warning.offset),
                  static_cast<double>(warning.length),
                  placed ? static_cast<double>(warning.position.line) : 0.0,
                  placed ? static_cast<double>(warning.position.column) : 0.0,
                  static_cast<double>(page.warningText.size()), static_cast<double>(said.size()),
                  static_cast<double>(warning.offset),  // byte offsets until placeInEditor
                  static_cast<double>(warning.offset + warning.length)});
  page.warningText += said;
}

// Turns the records' byte offsets into where they stand in the page's
// editor, so that the page's script decodes nothing itself.
void placeInEditor(PageConversion& page, const unsigned char* bytes, std::size_t size) {
  std::vector<std::int64_t> places;
  places.reserve(2 * (page.chords.size() + page.warnings.size()));
  for (const PageChord& chord : page.chords) {
    places.push_back(static_cast<std::int64_t>(chord.editorFrom));
    places.push_back(static_cast<std::int64_t>(chord.editorTo));
  }
  for (const PageWarning& warning : page.warnings) {
    places.push_back(static_cast<std::int64_t>(warning.editorFrom));
    places.push_back(static_cast<std::int64_t>(warning.editorTo));
  }
  std::vector<std::int64_t*> slots;
  slots.reserve(places.size());
  for (std::int64_t& place : places) slots.push_back(&place);
  toEditorIndexes(bytes, size, slots);
  std::size_t i = 0;
  for (PageChord& chord : page.chords) {
    chord.editorFrom = static_cast<double>(places[i++]);
    chord.editorTo = static_cast<double>(places[i++]);
  }
  for (PageWarning& warning : page.warnings) {
    warning.editorFrom = static_cast<double>(places[i++]);
    warning.editorTo = static_cast<double>(places[i++]);
  }
}

// Renders the failure's message and reason as the console shows them.
void keepFailure(PageConversion& page, const std::string& scoreName) {
  const Outcome& outcome = page.conversion.outcome;
  if (succeeded(outcome)) return;
  page.failureMessage = messageText(outcome.failure);
  TextOutput text;
  text.sink = stringSink(page.failureReason);
  putReason(text, outcome, scoreName, page.outputName);
  flushText(text);
}

}  // namespace

extern "C" {

// Converts size bytes of the score named name, whose WAV may take at most
// wavLimit bytes of the page's memory. Returns the results, or null if
// there is no memory even for them.
EMSCRIPTEN_KEEPALIVE PageConversion* score2wavConvert(const unsigned char* bytes, std::size_t size,
                                                      const char* name, double wavLimit) {
  auto* page = new (std::nothrow) PageConversion;
  if (page == nullptr) return nullptr;
  page->outputName = makeOutputName(name);
  ConversionEvents records{page, countEcho, keepChord, keepWarning};
  convertMemory(bytes, size, name, page->conversion, static_cast<std::size_t>(wavLimit), &records);
  placeInEditor(*page, bytes, size);
  keepFailure(*page, name);
  return page;
}

// The WAV's bytes (none when the conversion failed), and their count.
EMSCRIPTEN_KEEPALIVE const unsigned char* score2wavWav(const PageConversion* page) {
  return page->conversion.wav.bytes;
}
EMSCRIPTEN_KEEPALIVE std::size_t score2wavWavSize(const PageConversion* page) {
  return page->conversion.wav.size;
}

// Standard output and standard error, the console program's exact bytes.
EMSCRIPTEN_KEEPALIVE const char* score2wavOut(const PageConversion* page) {
  return page->conversion.out.data();
}
EMSCRIPTEN_KEEPALIVE std::size_t score2wavOutSize(const PageConversion* page) {
  return page->conversion.out.size();
}
EMSCRIPTEN_KEEPALIVE const char* score2wavErr(const PageConversion* page) {
  return page->conversion.err.data();
}
EMSCRIPTEN_KEEPALIVE std::size_t score2wavErrSize(const PageConversion* page) {
  return page->conversion.err.size();
}

// The exit status the console program would end with.
EMSCRIPTEN_KEEPALIVE int score2wavStatus(const PageConversion* page) {
  return exitStatus(page->conversion.outcome.failure);
}

// The output-path rule applied to the score's name (NUL-terminated).
EMSCRIPTEN_KEEPALIVE const char* score2wavOutputName(const PageConversion* page) {
  return page->outputName.c_str();
}

// The chords kept (PageChord records of 10 doubles), how many the score has
// in all, and the notes of the kept ones (16-bit pitch indexes).
EMSCRIPTEN_KEEPALIVE const PageChord* score2wavChords(const PageConversion* page) {
  return page->chords.data();
}
EMSCRIPTEN_KEEPALIVE std::size_t score2wavChordsKept(const PageConversion* page) {
  return page->chords.size();
}
EMSCRIPTEN_KEEPALIVE double score2wavChordCount(const PageConversion* page) {
  return page->chordCount;
}
EMSCRIPTEN_KEEPALIVE const std::int16_t* score2wavNotes(const PageConversion* page) {
  return page->notes.data();
}
EMSCRIPTEN_KEEPALIVE std::size_t score2wavNoteCount(const PageConversion* page) {
  return page->notes.size();
}

// The warnings (PageWarning records of 7 doubles) and the text they say.
EMSCRIPTEN_KEEPALIVE const PageWarning* score2wavWarnings(const PageConversion* page) {
  return page->warnings.data();
}
EMSCRIPTEN_KEEPALIVE std::size_t score2wavWarningCount(const PageConversion* page) {
  return page->warnings.size();
}
EMSCRIPTEN_KEEPALIVE const char* score2wavWarningText(const PageConversion* page) {
  return page->warningText.data();
}
EMSCRIPTEN_KEEPALIVE std::size_t score2wavWarningTextSize(const PageConversion* page) {
  return page->warningText.size();
}

// The failure's message and reason as the console prints them ("" for none).
EMSCRIPTEN_KEEPALIVE const char* score2wavFailureMessage(const PageConversion* page) {
  return page->failureMessage.c_str();
}
EMSCRIPTEN_KEEPALIVE const char* score2wavFailureReason(const PageConversion* page) {
  return page->failureReason.c_str();
}

// The results of a conversion that found no memory even to start, as the
// console program reports it; null if there is no memory for these either.
EMSCRIPTEN_KEEPALIVE PageConversion* score2wavOutOfMemory(const char* name) {
  auto* page = new (std::nothrow) PageConversion;
  if (page == nullptr) return nullptr;
  page->outputName = makeOutputName(name);
  page->conversion.outcome = outOfMemory();
  TextOutput out;
  out.sink = stringSink(page->conversion.out);
  TextOutput err;
  err.sink = stringSink(page->conversion.err);
  reportOutcome(Console{&out, &err}, page->conversion.outcome, name, page->outputName);
  flushText(out);
  flushText(err);
  keepFailure(*page, name);
  return page;
}

// The records' layout as JSON: {"chord": [field names], "warning": [field
// names], "warningKinds": [names by number]}.
EMSCRIPTEN_KEEPALIVE const char* score2wavLayout() {
  static std::string json;
  if (json.empty()) {
    json = "{\"chord\":";
    appendNames(json, chordFieldNames);
    json += ",\"warning\":";
    appendNames(json, warningFieldNames);
    json += ",\"warningKinds\":";
    appendNames(json, warningKindNames);
    json += '}';
  }
  return json.c_str();
}

// The format of every WAV file: samples per second, header bytes, silence.
EMSCRIPTEN_KEEPALIVE int score2wavSampleRate() { return WaveFormat{}.sampleRate; }
EMSCRIPTEN_KEEPALIVE int score2wavHeaderSize() { return waveHeaderSize; }
EMSCRIPTEN_KEEPALIVE int score2wavSilence() { return waveSilence; }

EMSCRIPTEN_KEEPALIVE void score2wavRelease(PageConversion* page) { delete page; }

}  // extern "C"
