// score2wav: turns the score file named on the command line (or dropped on
// the program) into a WAV file beside it.
#include <cstdio>
#include <string>
#include <vector>

#include "driver/conversion.h"
#include "driver/file_system.h"
#include "driver/messages.h"
#include "sound/period_table.h"

namespace {

// Waits for the user to press Enter, so that a console window opened by a
// drag-and-drop stays readable; returns at once when input has ended.
void waitForEnter() {
  std::fflush(stdout);
  char line[128];  // one line of at most 127 characters; the rest stays unread
  static_cast<void>(std::fgets(line, sizeof line, stdin));
}

}  // namespace

int main(int argc, char** argv) {
  buildPeriodTable();
  prepareProcess();
  Console console;
  std::vector<std::string> arguments = programArguments(argc, argv);
  Failure failure =
      arguments.size() == 2 ? convertScoreFile(arguments[1], console) : Failure::usage;
  if (failure != Failure::none) std::printf("%s\n", messageText(failure));
  waitForEnter();
  return exitStatus(failure);
}
