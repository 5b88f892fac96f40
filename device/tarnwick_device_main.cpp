// tarnwick-device: a simulated target device on a pseudo-terminal or a real
// serial port (on Windows a COM port), so that the host can run a real
// programming run without hardware.
#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "console.h"
#include "device_line.h"
#include "device_options.h"
#include "device_runner.h"

namespace {

using namespace tarnwick::device;

std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

#ifdef _WIN32
// Ctrl+C, Ctrl+Break and the console's close end the runs; the handler holds
// a closing console until `ended` is set, the line closed.
std::atomic<bool> ended{false};

void InstallSignalHandlers() { tarnwick::console::CatchStopRequests(stopRequested, ended); }
#else
void RequestStop(int) { stopRequested.store(true); }

void InstallSignalHandlers() {
  struct sigaction action {};
  action.sa_handler = RequestStop;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a signal cuts a wait short
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}
#endif

std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path) {
  std::ifstream in(PathFromUtf8(path), std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
}

#ifndef _WIN32
// A symlink at `path` to the pseudo-terminal, replacing a stale symlink but nothing else.
bool MakeLink(const std::string& path, const std::string& target, std::string& error) {
  namespace fs = std::filesystem;
  std::error_code code;
  const fs::file_status status = fs::symlink_status(path, code);
  if (fs::exists(status)) {
    if (!fs::is_symlink(status)) {
      error = path + " exists and is not a symlink";
      return false;
    }
    fs::remove(path, code);
  }
  fs::create_symlink(target, path, code);
  if (code) {
    error = "cannot make the link " + path + ": " + code.message();
    return false;
  }
  return true;
}

// Removes the link only while it still points at this device's line.
void RemoveLink(const std::string& path, const std::string& target) {
  std::error_code code;
  if (std::filesystem::read_symlink(path, code) == target && !code) std::filesystem::remove(path, code);
}
#endif

}  // namespace

int main(int argc, char** argv) {
  // In UTF-8 on every system (on Windows, argv is in the ANSI code page).
  std::vector<std::string> arguments = tarnwick::console::Utf8Arguments(argc, argv);
  if (!arguments.empty()) arguments.erase(arguments.begin());
  const ParsedOptions parsed = ParseDeviceOptions(arguments);
  if (parsed.outcome == ParsedOptions::Outcome::Help) {
    std::cout << DeviceUsage();
    return kExitOk;
  }
  if (parsed.outcome == ParsedOptions::Outcome::Version) {
    std::cout << "tarnwick-device " TARNWICK_VERSION "\n";
    return kExitOk;
  }
  if (parsed.outcome == ParsedOptions::Outcome::Error) {
    std::cerr << "tarnwick-device: " << parsed.error << "\n" << DeviceUsage();
    return kExitUsage;
  }
  const DeviceOptions& options = parsed.options;
#ifdef _WIN32
  // No pseudo-terminals here: the device serves a COM port, or nothing.
  if (!options.link.empty()) {
    std::cerr << "tarnwick-device: --link has no meaning on Windows: give the COM port to serve as PORT\n";
    return kExitUsage;
  }
  if (options.port.empty()) {
    std::cerr << "tarnwick-device: give the COM port to serve, e.g. tarnwick-device COM6 (see --help)\n";
    return kExitUsage;
  }
#endif
  if (!options.port.empty() && !options.link.empty()) {
    std::cerr << "tarnwick-device: --link is for the pseudo-terminal, not a PORT\n" << DeviceUsage();
    return kExitUsage;
  }
  std::optional<std::vector<std::uint8_t>> expected;
  if (!options.expect.empty()) {
    expected = ReadWholeFile(options.expect);
    if (!expected) {
      std::cerr << "tarnwick-device: cannot read " << options.expect << ": " << std::strerror(errno) << "\n";
      return kExitUsage;
    }
  }

  InstallSignalHandlers();
  std::string error;
#ifdef _WIN32
  std::unique_ptr<DeviceLine> line = DeviceLine::OpenSerialPort(options.port, options.baud, error);
#else
  std::unique_ptr<DeviceLine> line = options.port.empty()
                                         ? DeviceLine::OpenPseudoTerminal(error)
                                         : DeviceLine::OpenSerialPort(options.port, options.baud, error);
#endif
  if (!line) {
    std::cerr << "tarnwick-device: " << error << "\n";
    return kExitFailed;
  }
#ifndef _WIN32
  if (!options.link.empty() && !MakeLink(options.link, line->hostPath(), error)) {
    std::cerr << "tarnwick-device: " << error << "\n";
    return kExitFailed;
  }
#endif
  // Scripts read this first line to find the line to open.
  std::cout << line->hostPath() << std::endl;
#ifdef _WIN32
  std::cerr << "tarnwick-device: serving " << line->hostPath() << " until Ctrl+C" << std::endl;
#endif

  const int status = ServeDevice(options, expected, *line, stopRequested, std::cout, std::cerr);
#ifdef _WIN32
  line.reset();
  ended.store(true);
#else
  if (!options.link.empty()) RemoveLink(options.link, line->hostPath());
#endif
  return status;
}
