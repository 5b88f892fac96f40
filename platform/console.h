// The program's console and standard streams, as a command-line front end
// needs them on each system: stop requests (Ctrl-C, a hang-up, the console
// closed), terminals, missing standard streams, and writing to descriptors.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdio>

namespace tarnwick::console {

// From now on Ctrl-C, SIGTERM and a hang-up (the terminal closed) set `stop`.
// On Windows the console's
// close, a logoff or a shutdown set it too, then hold the process (at most
// 4.5 s) until `ended` is set: the loop has recorded the runs and closed the
// ports.
void CatchStopRequests(std::atomic<bool>& stop, const std::atomic<bool>& ended);

// `stream` is a terminal that takes the escape sequences of live lines.
bool IsTerminal(std::FILE* stream);

// A program started without a standard stream has nowhere to write it, and
// the next file it opens (the log, a port) would take its number: each
// missing one is opened on the null device.
void OpenMissingStandardStreams();

// The descriptor behind a standard stream.
int DescriptorOf(std::FILE* stream);
// Writes the whole piece to `fd`, waiting if it must; false when the
// descriptor fails (the reader went away).
bool WriteToDescriptor(int fd, const char* data, std::size_t length);
// Both descriptors lead to one file: a terminal, or `2>&1` into a pipe or file.
bool SameFile(int a, int b);

}  // namespace tarnwick::console
