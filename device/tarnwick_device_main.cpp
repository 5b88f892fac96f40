// tarnwick-device: a simulated target device on a pseudo-terminal or a real
// serial port, so that the host can run a real programming run without hardware.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device_line.h"
#include "device_options.h"
#include "device_runner.h"

namespace {

using namespace tarnwick::device;

volatile std::sig_atomic_t stopRequested = 0;

void RequestStop(int) { stopRequested = 1; }

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

std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
}

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

}  // namespace

int main(int argc, char** argv) {
  const ParsedOptions parsed = ParseDeviceOptions(std::vector<std::string>(argv + 1, argv + argc));
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
  std::unique_ptr<DeviceLine> line = options.port.empty()
                                         ? DeviceLine::OpenPseudoTerminal(error)
                                         : DeviceLine::OpenSerialPort(options.port, options.baud, error);
  if (!line) {
    std::cerr << "tarnwick-device: " << error << "\n";
    return kExitFailed;
  }
  if (!options.link.empty() && !MakeLink(options.link, line->hostPath(), error)) {
    std::cerr << "tarnwick-device: " << error << "\n";
    return kExitFailed;
  }
  // Scripts read this first line to find the line to open.
  std::cout << line->hostPath() << std::endl;

  const int status = ServeDevice(options, expected, *line, stopRequested, std::cout, std::cerr);
  if (!options.link.empty()) RemoveLink(options.link, line->hostPath());
  return status;
}
