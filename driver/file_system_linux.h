// What the Linux file-system layer's files share (file_system_linux.cpp,
// output_file_linux.cpp): the record of the temporary file a terminating
// signal removes, and writing to descriptors. Not for use outside driver/.
#pragma once

#include <signal.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/ports.h"

// The descriptor a ScoreFile or OutputFile holds.
inline int fdOf(std::intptr_t handle) { return static_cast<int>(handle); }

// Makes path the file a terminating signal removes, when it fits the storage.
void rememberTemporary(const std::string& path);

// No file is left for a terminating signal to remove.
void forgetTemporary();

// Holds every signal back while it lives, so that a temporary file and the
// record of it for the signal handler appear together.
struct SignalsHeld {
  sigset_t previous;
  SignalsHeld();
  ~SignalsHeld();
};

// Writes all count bytes to a descriptor; nothing written at all counts as noRoom.
PortResult writeAll(int fd, const void* data, std::size_t count, PortResult noRoom);
