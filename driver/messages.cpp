#include "driver/messages.h"

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
};

}  // namespace

const char* messageText(Failure failure) {
  for (const MessageRow& row : messageTable) {
    if (row.failure == failure) return row.text;
  }
  return "";
}

int exitStatus(Failure failure) { return failure == Failure::none ? 0 : 1; }
