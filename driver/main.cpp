// score2wav: turns the score file named on the command line (or dropped on
// the program) into a WAV file beside it.
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "driver/file_conversion.h"
#include "driver/file_system.h"
#include "driver/messages.h"
#include "driver/output_path.h"

namespace {

TextOutput standardOutput;
TextOutput standardError;
const std::string* scoreBeingConverted = nullptr;

// Waits for the user to press Enter, so that a console window opened by a
// drag-and-drop stays readable; returns at once when input has ended.
void waitForEnter() {
  flushText(standardOutput);
  if (inputIsTerminal()) {
    putText(standardError, "Press Enter to close.");
    endLine(standardError);
  }
  flushText(standardError);
  waitForLine();
}

// The last resort when one of the program's small fixed allocations fails
// (memory the score decides is taken apart and checked where it is used):
// the usual message, cleanup and closing wait, then the end of the process.
[[noreturn]] void endForWantOfMemory() {
  removeTemporaryNow();
  flushText(standardOutput);
  flushText(standardError);
  Console console{&standardOutput, &standardError};
  std::string none;
  const std::string& score = scoreBeingConverted != nullptr ? *scoreBeingConverted : none;
  reportOutcome(console, outOfMemory(), score, score);
  waitForEnter();
  std::_Exit(1);
}

// True for the arguments that ask for help or the version.
bool asksForHelp(const std::string& argument) { return argument == "--help" || argument == "-h"; }
bool asksForVersion(const std::string& argument) { return argument == "--version"; }

}  // namespace

int main(int argc, char** argv) {
  if (!prepareProcess()) return 1;  // a closed stream that nothing can fill: no safe way to run
  standardOutput.sink = standardOutputSink();
  standardOutput.escapeControls = outputIsTerminal();
  // A line at a time where a person reads it; in blocks to pipes and files.
  standardOutput.lineByLine = outputIsTerminal();
  flushOnSignal(&standardOutput);
  standardError.sink = standardErrorSink();
  standardError.escapeControls = errorIsTerminal();
  std::set_new_handler(endForWantOfMemory);
  std::vector<std::string> arguments = programArguments(argc, argv);
  bool oneScore = arguments.size() == 2;
  std::string score = oneScore ? arguments[1] : std::string();
  if (oneScore && (asksForHelp(score) || asksForVersion(score)) && !pathExists(score)) {
    if (asksForHelp(score)) printHelp(standardOutput);
    if (asksForVersion(score)) printVersion(standardOutput);
    return 0;
  }
  scoreBeingConverted = &score;
  ConsoleConversion console{Console{&standardOutput, &standardError}, score};
  console.echoDiscarded = outputIsDiscarded();
  console.showProgress = outputIsWatched() && !standardOutput.lineByLine;
  Outcome outcome = oneScore ? convertScoreFile(score, console) : failed(Failure::usage);
  endOpenEcho(console);
  reportOutcome(console.console, outcome, score, makeOutputName(score));
  if (succeeded(outcome) && errorIsTerminal()) printSummary(console, makeOutputName(score));
  waitForEnter();
  return exitStatus(outcome.failure);
}
