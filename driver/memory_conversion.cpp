#include "driver/memory_conversion.h"

#include <memory>
#include <new>

#include "driver/messages.h"
#include "driver/output_path.h"

namespace {

// Two sets of events, told the same things in turn.
struct EventPair {
  ConversionEvents first;
  ConversionEvents second;
};

void echoBoth(void* context, const char* text, std::size_t length) {
  auto& pair = *static_cast<EventPair*>(context);
  for (const ConversionEvents* events : {&pair.first, &pair.second}) {
    if (events->echo != nullptr) events->echo(events->context, text, length);
  }
}

void chordToBoth(void* context, const ChordRecord& chord) {
  auto& pair = *static_cast<EventPair*>(context);
  for (const ConversionEvents* events : {&pair.first, &pair.second}) {
    if (events->chord != nullptr) events->chord(events->context, chord);
  }
}

void warnBoth(void* context, const WarningRecord& warning) {
  auto& pair = *static_cast<EventPair*>(context);
  for (const ConversionEvents* events : {&pair.first, &pair.second}) {
    if (events->warning != nullptr) events->warning(events->context, warning);
  }
}

}  // namespace

void convertMemory(const unsigned char* bytes, std::size_t size, const std::string& scoreName,
                   MemoryConversion& result, std::size_t wavLimit, const ConversionEvents* more,
                   std::size_t blockSize) {
  result.wav.limit = wavLimit;
  std::unique_ptr<TextOutput> out(new (std::nothrow) TextOutput);
  std::unique_ptr<TextOutput> err(new (std::nothrow) TextOutput);
  if (!out || !err) {
    result.outcome = outOfMemory();
    return;
  }
  out->sink = stringSink(result.out);
  err->sink = stringSink(result.err);
  ConsoleConversion console{Console{out.get(), err.get()}, scoreName};
  EventPair pair{consoleEvents(console), more != nullptr ? *more : ConversionEvents{}};
  ConversionEvents events{&pair, echoBoth, chordToBoth, warnBoth};
  result.outcome = convertBytes(bytes, size, scoreName, events, result.wav, blockSize);
  endOpenEcho(console);
  reportOutcome(console.console, result.outcome, scoreName, makeOutputName(scoreName));
  flushText(*out);
  flushText(*err);
}
