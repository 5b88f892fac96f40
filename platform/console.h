// The program's console and standard streams, as a command-line front end
// needs them on each system: stop requests (Ctrl-C, a hang-up, the console
// closed), terminals, missing standard streams, and writing to descriptors.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

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

// The program's arguments in UTF-8, its own name first. On Windows they are
// taken from the UTF-16 command line: `argv` there holds them in the ANSI code
// page, with "?" for every letter it lacks (a Greek or Japanese file name).
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// Text the program writes is UTF-8. A Windows console is given it as UTF-16
// (WriteConsoleW), so that every script shows whatever the console's code page
// is; files and pipes get the UTF-8 bytes as they are.
//
// Writes `text` to `stream`, after what the stream holds buffered.
void Write(std::FILE* stream, std::string_view text);
// The same, printf-like.
void Print(std::FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The descriptor behind a standard stream.
int DescriptorOf(std::FILE* stream);
// Writes the whole piece to `fd`, waiting if it must; false when the
// descriptor fails (the reader went away). A Windows console gets it as
// UTF-16; a character cut at the piece's end is completed by the next piece.
bool WriteToDescriptor(int fd, const char* data, std::size_t length);
// Both descriptors lead to one file: a terminal, or `2>&1` into a pipe or file.
bool SameFile(int a, int b);

}  // namespace tarnwick::console
