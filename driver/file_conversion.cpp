#include "driver/file_conversion.h"

#include "driver/conversion.h"
#include "driver/file_system.h"
#include "driver/output_path.h"

Outcome convertScoreFile(const std::string& scorePath, ConsoleConversion& console) {
  ScoreFile score;
  Outcome outcome = openScore(scorePath, score);
  if (!succeeded(outcome)) return outcome;
  OutputFile output;
  outcome = createOutput(makeOutputName(scorePath), score, output);
  if (succeeded(outcome)) {
    outcome = convertStreams(scoreSource(score), outputSink(output), consoleEvents(console));
  }
  if (succeeded(outcome)) outcome = checkScoreUnchanged(score);
  if (succeeded(outcome)) outcome = commitOutput(output);
  if (output.unremovedCount > 0) {
    const Unremoved& first = output.firstUnremoved;
    warnUnremoved(console.console, first.path, first.systemError, output.unremovedCount);
  }
  return outcome;
}
