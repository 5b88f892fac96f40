#include "console.h"

#include <algorithm>
#include <cerrno>
#include <csignal>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <io.h>
#include <windows.h>
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
  return ::GetConsoleMode(console, &mode) &&
         ::SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
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
#endif

bool WriteToDescriptor(int fd, const char* data, std::size_t length) {
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
  struct stat first {}, second {};
  return ::fstat(a, &first) == 0 && ::fstat(b, &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
#endif
}

}  // namespace tarnwick::console
