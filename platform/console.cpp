#include "console.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstring>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include "wide_text.h"
#else
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tarnwick::console {

namespace {
// Where a stop request goes, from a signal handler or the console's handler
// thread; set once, before either can run.
std::atomic<bool>* stopRequested = nullptr;
[[maybe_unused]] const std::atomic<bool>* runsEnded = nullptr;
}  // namespace

#ifdef _WIN32
namespace {

// Windows ends the process as soon as the handler returns from a console's
// close, a logoff or a shutdown (and gives it a few seconds at most): it waits
// there until the loop has ended the runs, recorded them and closed the ports.
constexpr DWORD kEndingWaitMs = 4500;

BOOL WINAPI OnConsoleControl(DWORD event) {
  stopRequested->store(true);
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    for (DWORD waited = 0; !runsEnded->load() && waited < kEndingWaitMs; waited += 20) ::Sleep(20);
  }
  return TRUE;  // the loop ends the runs and closes the ports itself
}
}  // namespace

void CatchStopRequests(std::atomic<bool>& stop, const std::atomic<bool>& ended) {
  stopRequested = &stop;
  runsEnded = &ended;
  ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}
bool IsTerminal(std::FILE* stream) {
  if (!_isatty(_fileno(stream))) return false;
  // The live lines redraw with escape sequences; older consoles cannot.
  HANDLE console = ::GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  return ::GetConsoleMode(console, &mode) && ::SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}
// A program started without a standard stream has nowhere to write it: each
// missing one is opened on the null device.
void OpenMissingStandardStreams() {
  // No descriptor, or one without a handle (-1; -2 where no console was attached).
  const auto missing = [](std::FILE* stream) { return _fileno(stream) < 0 || _get_osfhandle(_fileno(stream)) < 0; };
  if (missing(stdin)) (void)std::freopen("NUL", "r", stdin);
  if (missing(stdout)) (void)std::freopen("NUL", "w", stdout);
  if (missing(stderr)) (void)std::freopen("NUL", "w", stderr);
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  std::vector<std::string> arguments;
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) {
    for (int i = 0; i < argc; ++i) arguments.emplace_back(argv[i]);
    return arguments;
  }
  for (int i = 0; i < count; ++i) arguments.push_back(win32::Narrow(wide[i]));
  ::LocalFree(wide);
  return arguments;
}

namespace {

// The console behind `fd`, or nullptr when it leads to a file, a pipe or nothing.
HANDLE ConsoleOf(int fd) {
  const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
  DWORD mode = 0;
  return handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) ? handle : nullptr;
}

// The first bytes of a character that a piece written to a console ended in,
// for standard output and standard error (each written by one thread at a
// time): a piece that wraps round an output queue's ring comes in two parts.
struct Carry {
  char bytes[4];
  std::size_t length = 0;
};
Carry carried[3];

// How much of `text` is whole characters: a sequence cut at its end stays out.
std::size_t WholeCharacters(const char* text, std::size_t length) {
  for (std::size_t back = 1; back <= 3 && back <= length; ++back) {
    const auto byte = static_cast<unsigned char>(text[length - back]);
    if ((byte & 0xC0) == 0x80) continue;  // a continuation byte: its lead is further back
    const std::size_t need = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
    return need > back ? length - back : length;
  }
  return length;
}

// UTF-8 to the console as UTF-16, a few kilobytes at a time and without the
// heap. Bytes that are not UTF-8 show as U+FFFD.
bool WriteToConsole(HANDLE console, int fd, const char* data, std::size_t length) {
  Carry none;
  Carry& carry = fd >= 0 && fd < 3 ? carried[fd] : none;
  constexpr std::size_t kChunk = 4096;
  char bytes[kChunk + sizeof carry.bytes];
  wchar_t wide[kChunk + sizeof carry.bytes];
  while (length > 0) {
    std::memcpy(bytes, carry.bytes, carry.length);
    const std::size_t taken = std::min(length, kChunk);
    std::memcpy(bytes + carry.length, data, taken);
    const std::size_t total = carry.length + taken;
    data += taken;
    length -= taken;
    const std::size_t whole = WholeCharacters(bytes, total);
    carry.length = total - whole;
    std::memcpy(carry.bytes, bytes + whole, carry.length);
    if (whole == 0) continue;
    const int units = ::MultiByteToWideChar(CP_UTF8, 0, bytes, static_cast<int>(whole), wide,
                                            static_cast<int>(sizeof wide / sizeof wide[0]));
    if (units <= 0) return false;
    for (int done = 0; done < units;) {
      DWORD wrote = 0;
      if (!::WriteConsoleW(console, wide + done, static_cast<DWORD>(units - done), &wrote, nullptr) || wrote == 0) {
        return false;
      }
      done += static_cast<int>(wrote);
    }
  }
  return true;
}

}  // namespace
#else
namespace {

// A hang-up (the terminal closed) ends the runs as Ctrl-C does.
extern "C" void OnStopSignal(int) { stopRequested->store(true); }

}  // namespace

void CatchStopRequests(std::atomic<bool>& stop, const std::atomic<bool>& /*ended*/) {
  stopRequested = &stop;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
}
bool IsTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) != 0; }
// Descriptors 0, 1 and 2 that the program was started without would be taken
// by the next files it opens (the log, a port), and standard output would
// write into them: each missing one is opened on /dev/null first.
void OpenMissingStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);  // the lowest free: fd itself
    if (opened >= 0 && opened != fd) {
      ::dup2(opened, fd);
      ::close(opened);
    }
  }
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }
#endif

void Write(std::FILE* stream, std::string_view text) {
#ifdef _WIN32
  if (ConsoleOf(::_fileno(stream)) != nullptr) {
    std::fflush(stream);
    WriteToDescriptor(::_fileno(stream), text.data(), text.size());
    return;
  }
#endif
  std::fwrite(text.data(), 1, text.size(), stream);
}

void Print(std::FILE* stream, const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  std::va_list again;
  va_copy(again, arguments);
  char text[1024];
  const int length = std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  if (length >= 0 && static_cast<std::size_t>(length) < sizeof text) {
    Write(stream, std::string_view(text, static_cast<std::size_t>(length)));
  } else if (length >= 0) {
    std::string longer(static_cast<std::size_t>(length) + 1, '\0');
    std::vsnprintf(longer.data(), longer.size(), format, again);
    longer.pop_back();
    Write(stream, longer);
  }
  va_end(again);
}

bool WriteToDescriptor(int fd, const char* data, std::size_t length) {
#ifdef _WIN32
  if (const HANDLE console = ConsoleOf(fd)) return WriteToConsole(console, fd, data, length);
#endif
  while (length > 0) {
#ifdef _WIN32
    const int chunk = static_cast<int>(std::min<std::size_t>(length, 1u << 16));
    const int n = ::_write(fd, data, static_cast<unsigned>(chunk));
    if (n <= 0) return false;
#else
    const ssize_t n = ::write(fd, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // Someone made the descriptor non-blocking: wait here, never in the loop.
      pollfd ready{fd, POLLOUT, 0};
      ::poll(&ready, 1, 100);
      continue;
    }
    if (n <= 0) return false;
#endif
    data += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

int DescriptorOf(std::FILE* stream) {
#ifdef _WIN32
  return ::_fileno(stream);
#else
  return ::fileno(stream);
#endif
}

// Both descriptors lead to one file: a terminal, or `2>&1` into a pipe or file.
bool SameFile(int a, int b) {
#ifdef _WIN32
  return ::_isatty(a) && ::_isatty(b);
#else
  struct stat first{};
  struct stat second{};
  return ::fstat(a, &first) == 0 && ::fstat(b, &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
#endif
}

}  // namespace tarnwick::console
