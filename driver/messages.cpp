#include "driver/messages.h"

#include <cstdio>
#include <cstring>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#define NOGDI  // wingdi.h declares a function named Chord
#include <windows.h>
#endif

#ifndef SCORE2WAV_VERSION
#define SCORE2WAV_VERSION "unknown"
#endif

namespace {

struct MessageRow {
  Failure failure;
  const char* text;
};

constexpr MessageRow messageTable[] = {
    {Failure::none, ""},
    {Failure::usage, "Please D&D."},
    {Failure::openRead, "File open error as read."},
    {Failure::openWrite, "File open error as write."},
    {Failure::tooLong, "Score too long."},
    {Failure::readError, "File read error."},
    {Failure::writeError, "File write error."},
    {Failure::outOfMemory, "Not enough memory."},
};

constexpr const char* usageLine = "usage: score2wav SCORE   (try \"score2wav --help\")";

constexpr const char* helpText =
    "usage: score2wav SCORE\n"
    "\n"
    "Turns the plain-text score SCORE into a WAV file beside it: the same path\n"
    "with the extension of its last part replaced by \".wav\" (song.txt gives\n"
    "song.wav), 8-bit mono PCM at 8000 samples per second. Each chord is echoed\n"
    "as it is converted; at the end the program waits for Enter, so that a\n"
    "console window opened by a drag-and-drop stays readable.\n"
    "\n"
    "The score:\n"
    "  the first line starts with the length of every chord in seconds (0.3)\n"
    "  then come chords, each ended by a bar |; blanks and line breaks are ignored\n"
    "  a chord is a run of notes that sound together: 2m1d1m |\n"
    "  a note is an octave 0-3, a letter d r m f s l t, and an optional b or #\n"
    "  the letters d r m f s l t are A B C# D E F# G# (do is A, not C)\n"
    "  2d is A4 at 440 Hz; 0d is A2, 1d A3, 3d A5, and each octave runs d to t\n"
    "  blanks inside a chord are ignored: end each chord with | to play notes\n"
    "  one after another (2d | 2r | 2m |), not 2d 2r 2m |\n"
    "  a note repeated in the next chord is heard as one held note: put a rest\n"
    "  | | or another note between to strike it again\n"
    "  text that is no note is skipped, and a warning says why (C4 is no note here)\n"
    "  a score saved as UTF-8 (with or without a byte order mark) or UTF-16 reads alike\n"
    "\n"
    "On a terminal a successful run ends by saying what it wrote and how long\n"
    "the sound is.\n"
    "\n"
    "  -h, --help   show this help and exit (when no file has that name)\n"
    "  --version    show the version and exit\n"
    "\n"
#ifdef _WIN32
    "The manual is README.md, beside score2wav.exe.\n";
#else
    "The manual: man score2wav\n";
#endif

// Writes bytes with those that would disturb a console line escaped: quotes
// and backslashes get a backslash, control bytes become \xNN.
void putEscaped(TextOutput& out, const unsigned char* bytes, std::size_t length) {
  for (std::size_t i = 0; i < length;) {
    unsigned char c = bytes[i];
    if (c == '"' || c == '\\') {
      putChar(out, '\\');
      putChar(out, static_cast<char>(c));
      ++i;
      continue;
    }
    bool escape = false;
    std::size_t size = visibleUnit(bytes + i, length - i, out.escapeControls, escape);
    putUnit(out, bytes + i, size,
            escape || c == '\t');  // a quote shows every control byte, tab too
    i += size;
  }
}

// Writes a path between double quotes, escaped as putEscaped does; on
// Windows, where no name holds a quote and every path is full of
// backslashes, as Explorer shows it (C:\Music\song.txt), controls escaped.
void putQuoted(TextOutput& out, const std::string& text) {
  putChar(out, '"');
#ifdef _WIN32
  putVisible(out, text.data(), text.size());
#else
  putEscaped(out, reinterpret_cast<const unsigned char*>(text.data()), text.size());
#endif
  putChar(out, '"');
}

// Writes a quote of a text that is fullLength bytes long, of which bytes
// holds the first length: at most quoteLimit of them, then "..." if cut.
void putCutQuote(TextOutput& out, const unsigned char* bytes, std::size_t length,
                 std::int64_t fullLength) {
  putChar(out, '"');
  putEscaped(out, bytes, length < quoteLimit ? length : quoteLimit);
  putText(out, fullLength > static_cast<std::int64_t>(quoteLimit) ? "...\"" : "\"");
}

// How a note is written, for those who wrote something else.
constexpr const char* noteHint =
    "a note is an octave digit 0 to 3, then a letter d r m f s l t, e.g. 2d";

// Names a Unicode blank that is no space, and says what to type instead:
// "a no-break space (U+00A0) is no blank in a score: type a space".
void putUnicodeBlank(TextOutput& out, std::uint32_t code) {
  putText(out, code == 0x00A0   ? "a no-break space"
               : code == 0x202F ? "a narrow no-break space"
               : code == 0x3000 ? "an ideographic space"
                                : "a Unicode space");
  char number[16];
  std::snprintf(number, sizeof number, " (U+%04X)", static_cast<unsigned>(code));
  putText(out, number);
  putText(out, " is no blank in a score: type an ordinary space");
}

// Writes why a run of skipped text holds no note.
void putSkipReason(TextOutput& out, const WarningRecord& warning) {
  switch (warning.skip.reason) {
    case SkipReason::octaveOutOfRange:
      putText(out, "octave ");
      putChar(out, static_cast<char>(warning.skip.octave));
      putText(out, "; octaves are 0 to 3");
      break;
    case SkipReason::noNoteLetter:
      putText(out, "an octave digit needs a note letter (d r m f s l t) after it");
      break;
    case SkipReason::pitchOutOfRange: putText(out, "outside the notes 0d to 3t"); break;
    case SkipReason::noOctave:
      putText(out, "a note letter needs its octave digit 0 to 3 before it, e.g. 2d");
      break;
    case SkipReason::letterName:
      putText(out, "letter names are not read");
      if (warning.showHint) {
        putText(out, "; ");
        putText(out, noteHint);
      }
      break;
    case SkipReason::notANote: putText(out, "no note begins here"); break;
    case SkipReason::typographicSharp:
      putText(out, "the sharp sign (U+266F) is not read: type # after the note, e.g. 2f#");
      break;
    case SkipReason::typographicFlat:
      putText(out, "the flat sign (U+266D) is not read: type b after the note, e.g. 2mb");
      break;
    case SkipReason::fullWidth:
      putText(out,
              "full-width characters are not read: type the digits and letters in ASCII, e.g. 2d");
      break;
    case SkipReason::unicodeBlank: putUnicodeBlank(out, warning.skip.codePoint); break;
  }
}

// Writes a length of sound, its samples cut to whole seconds, as h:mm:ss,
// or as m:ss without hours; under a minute without hours as 0:ss.t, cut to
// tenths, as the page shows it (0.4 s is 0:00.4, not a silent 0:00).
void putClock(TextOutput& out, std::int64_t samples, bool hours) {
  long long seconds = static_cast<long long>(samples / WaveFormat{}.sampleRate);
  char clock[48];
  if (hours) {
    std::snprintf(clock, sizeof clock, "%lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60,
                  seconds % 60);
  } else if (seconds < 60) {
    long long tenths = static_cast<long long>(samples / (WaveFormat{}.sampleRate / 10)) % 10;
    std::snprintf(clock, sizeof clock, "0:%02lld.%lld", seconds, tenths);
  } else {
    std::snprintf(clock, sizeof clock, "%lld:%02lld", seconds / 60, seconds % 60);
  }
  putText(out, clock);
}

// Writes a size in bytes as gigabytes (10^9 bytes).
void putGigabytes(TextOutput& out, double bytes) {
  char size[48];
  std::snprintf(size, sizeof size, bytes < 1e12 ? "%.1f GB" : "%.3g GB", bytes / 1e9);
  putText(out, size);
}

// Writes the score's name at the start of a warning line, with control
// bytes escaped, so that no name can forge a line of its own.
void putScoreName(TextOutput& err, const std::string& scoreName) {
  putVisible(err, scoreName.data(), scoreName.size());
}

// The reason line for a failure the system explains: "cannot VERB "PATH": TEXT".
void putSystemReason(TextOutput& err, const char* verb, const std::string& path, int code) {
  putText(err, "score2wav: cannot ");
  putText(err, verb);
  putChar(err, ' ');
  putQuoted(err, path);
  putText(err, ": ");
  putText(err, systemErrorText(code));
}

// The reason for a failure whose cause is not the system's.
void putCauseReason(TextOutput& err, const Outcome& outcome, const std::string& scorePath,
                    const std::string& outputPath) {
  putText(err, "score2wav: ");
  switch (outcome.cause) {
    case Cause::scoreIsOutput:
      putText(err, "cannot write ");
      putQuoted(err, outputPath);
      putText(err, ": it is the score itself");
      break;
    case Cause::notRegular:
      if (outcome.failure == Failure::openWrite) {  // a device or pipe at the output path
        putText(err, "cannot write ");
        putQuoted(err, outputPath);
        putText(err, ": not a regular file");
      } else {
        putText(err, "cannot read ");
        putQuoted(err, scorePath);
        putText(err, ": not a regular file (a score is read twice)");
      }
      break;
    case Cause::changed:
      putQuoted(err, scorePath);
      putText(err, " changed while it was read");
      break;
    case Cause::isFolder:
      putText(err, "cannot open ");
      putQuoted(err, scorePath);
      putText(err, ": it is a folder, not a score");
      break;
    case Cause::notFinite:
      putQuoted(err, scorePath);
      putText(err, ": the chord length is not a finite number");
      break;
    case Cause::tooLarge:
      putQuoted(err, scorePath);
      putText(err, ": the WAV would hold ");
      putGigabytes(err, outcome.wavBytes);
      putText(err, "; the format's limit is 2 GiB");
      break;
    case Cause::memory:
      putQuoted(err, scorePath);
      if (outcome.wavBytes > 0.0) {
        putText(err, ": not enough memory for a WAV of ");
        putGigabytes(err, outcome.wavBytes);
      } else {
        putText(err, ": not enough memory to convert it");
      }
      break;
    case Cause::none:
    case Cause::system:
      putQuoted(err, scorePath);
      putText(err, ": ");
      putText(err, messageText(outcome.failure));
      break;
  }
}

}  // namespace

const char* messageText(Failure failure) {
  for (const MessageRow& row : messageTable) {
    if (row.failure == failure) return row.text;
  }
  return "";
}

int exitStatus(Failure failure) { return failure == Failure::none ? 0 : 1; }

void putReason(TextOutput& out, const Outcome& outcome, const std::string& scorePath,
               const std::string& outputPath) {
  if (outcome.failure == Failure::usage) {
    putText(out, usageLine);
  } else if (outcome.cause == Cause::system) {
    bool output = outcome.failure == Failure::openWrite || outcome.failure == Failure::writeError;
    const char* verb = outcome.failure == Failure::openRead ? "open" : output ? "write" : "read";
    putSystemReason(out, verb, output ? outputPath : scorePath, outcome.systemError);
  } else {
    putCauseReason(out, outcome, scorePath, outputPath);
  }
}

void reportOutcome(const Console& console, const Outcome& outcome, const std::string& scorePath,
                   const std::string& outputPath) {
  if (outcome.failure == Failure::none) return;
  putText(*console.out, messageText(outcome.failure));
  endLine(*console.out);
  flushText(*console.out);  // before the reason: both may go to one file
  putReason(*console.err, outcome, scorePath, outputPath);
  endLine(*console.err);
}

void putWarningText(TextOutput& out, const WarningRecord& warning) {
  switch (warning.kind) {
    case WarningKind::skipped:
      putText(out, "skipped ");
      putCutQuote(out, warning.quote, warning.quoteLength, warning.length);
      if (warning.length > static_cast<std::int64_t>(quoteLimit)) {
        putText(out, " (");
        putNumber(out, warning.length);
        putText(out, " characters)");
      }
      putText(out, ": ");
      putSkipReason(out, warning);
      break;
    case WarningKind::noPlayableNote:
      putText(out, "no chord holds a note that can be played, so the WAV is silent; ");
      putText(out, noteHint);
      break;
    case WarningKind::noChord:
      putText(out,
              "the score holds no chord, so the WAV is silent; a chord is notes ended by a bar, "
              "e.g. 2d2m |");
      break;
    case WarningKind::longChord: {
      char seconds[48];
      std::snprintf(seconds, sizeof seconds, "%.15g", warning.chordSeconds);
      putText(out, "every chord lasts ");
      putText(out, seconds);
      putText(out, " seconds (the first line begins ");
      putCutQuote(out, warning.quote, warning.quoteLength, warning.length);
      putText(out, "), so the WAV will last ");
      putClock(out, warning.wavSamples, true);
      putText(out, " (h:mm:ss)");
      break;
    }
    case WarningKind::zeroLength:
    case WarningKind::negativeLength:
      putText(out, warning.kind == WarningKind::zeroLength ? "the chord length reads as 0 seconds"
                                                           : "the chord length is negative");
      putText(out, " (the first line begins ");
      putCutQuote(out, warning.quote, warning.quoteLength, warning.length);
      putText(out, "), so the WAV will hold no sound");
      break;
    case WarningKind::barOnFirstLine:
      putText(out, "the first line only gives the chord length, so its chords are not played");
      if (warning.chordSeconds > 0.0) {
        char seconds[48];
        std::snprintf(seconds, sizeof seconds, "%.15g", warning.chordSeconds);
        putText(out, ", and every chord lasts ");
        putText(out, seconds);
        putText(out, " s");
      }
      putText(out, " (the first line begins ");
      putCutQuote(out, warning.quote, warning.quoteLength, warning.length);
      putChar(out, ')');
      break;
    case WarningKind::notesAfterLastBar:
    case WarningKind::notesWithoutBar:
      putNumber(out, warning.count);
      putText(out, warning.count == 1 ? " note" : " notes");
      if (warning.kind == WarningKind::notesAfterLastBar) putText(out, " after the last bar");
      putText(out, warning.count == 1 ? " is not played" : " are not played");
      putText(out, warning.kind == WarningKind::notesAfterLastBar
                       ? ": a chord ends with \"|\""
                       : ": the score has no bar, and a chord ends with \"|\"");
      break;
    case WarningKind::hidden:
      putNumber(out, warning.count);
      if (warning.onlySkipped) {
        putText(out, warning.count == 1 ? " more run of skipped text was not shown"
                                        : " more runs of skipped text were not shown");
      } else {
        putText(out, warning.count == 1 ? " more warning was not shown"
                                        : " more warnings were not shown");
      }
      break;
  }
}

namespace {

void printEcho(void* context, const char* text, std::size_t length) {
  auto& conversion = *static_cast<ConsoleConversion*>(context);
  putScoreText(*conversion.console.out, text, length);
  conversion.lineOpen = true;
}

// Sample-notes of a chord (its samples times its notes) that take long
// enough to render (a millisecond or more) for its echo line to go out first.
constexpr std::int64_t progressWork = std::int64_t{1} << 22;

void printChord(void* context, const ChordRecord& chord) {
  auto& conversion = *static_cast<ConsoleConversion*>(context);
  conversion.chords = chord.index + 1;
  conversion.samples = chord.firstSample + chord.sampleCount;
  if (!conversion.echoDiscarded) endLine(*conversion.console.out);
  conversion.lineOpen = false;
  std::int64_t notes = chord.noteCount > 1 ? chord.noteCount : 1;
  if (conversion.showProgress && chord.sampleCount >= progressWork / notes) {
    flushText(*conversion.console.out);
  }
}

// One warning line: "NAME:LINE:COL: warning: TEXT" ("NAME: warning: TEXT"
// for the count of those not shown).
void printWarning(void* context, const WarningRecord& warning) {
  auto& conversion = *static_cast<ConsoleConversion*>(context);
  flushText(*conversion.console.out);  // the echo before it: both may go to one file
  TextOutput& err = *conversion.console.err;
  putScoreName(err, conversion.scoreName);
  if (hasPlace(warning.kind)) {
    putChar(err, ':');
    putNumber(err, warning.position.line);
    putChar(err, ':');
    putNumber(err, warning.position.column);
  }
  putText(err, ": warning: ");
  putWarningText(err, warning);
  endLine(err);
}

}  // namespace

ConversionEvents consoleEvents(ConsoleConversion& conversion) {
  return ConversionEvents{&conversion, conversion.echoDiscarded ? nullptr : printEcho, printChord,
                          printWarning};
}

void endOpenEcho(ConsoleConversion& conversion) {
  if (conversion.lineOpen) endLine(*conversion.console.out);
  conversion.lineOpen = false;
}

void printSummary(const ConsoleConversion& conversion, const std::string& outputPath) {
  TextOutput& err = *conversion.console.err;
  flushText(*conversion.console.out);
  putText(err, "Wrote ");
  putVisible(err, outputPath.data(), outputPath.size());
  putText(err, ": ");
  putNumber(err, conversion.chords);
  putText(err, conversion.chords == 1 ? " chord, " : " chords, ");
  putClock(err, conversion.samples, false);
  putText(err, " of sound.");
  endLine(err);
}

void warnUnremoved(const Console& console, const std::string& path, int systemError,
                   long long count) {
  flushText(*console.out);
  putSystemReason(*console.err, "remove", path, systemError);
  if (count > 1) {
    putText(*console.err, " (and ");
    putNumber(*console.err, count - 1);
    putText(*console.err, count == 2 ? " other file)" : " other files)");
  }
  endLine(*console.err);
}

void printHelp(TextOutput& out) {
  putText(out, helpText);
  flushText(out);
}

void printVersion(TextOutput& out) {
  putText(out, "score2wav " SCORE2WAV_VERSION);
  endLine(out);
  flushText(out);
}

#ifndef _WIN32
// (Windows has its own, with the file-system layer.)
std::string systemErrorText(int code) {
  if (code <= 0) return "unknown error";
  return std::strerror(code);
}
#endif
