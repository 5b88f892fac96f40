// tarnwick-cli: programming from scripts, build pipelines and production
// stations. Three commands: ports (what the machine has), program (one
// device) and station (a device on every port at once, again and again with
// --loop). The runs are the engine's, stepped by one 100 ms loop.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "cli_options.h"
#include "json_line.h"
#include "reporter.h"
#include "run_log.h"
#include "serial_devices.h"
#include "sha256.h"
#include "station.h"

namespace tarnwick::cli {
namespace {

// Exit status of program.
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNoDevice = 3;
constexpr int kExitStalled = 4;
constexpr int kExitPortLost = 5;
constexpr int kExitImage = 6;
constexpr int kExitInterrupted = 130;

std::atomic<bool> stopRequested{false};

#ifdef _WIN32
BOOL WINAPI OnConsoleControl(DWORD) {
  stopRequested = true;
  return TRUE;  // the loop ends the runs and closes the ports itself
}
void CatchInterrupts() { ::SetConsoleCtrlHandler(OnConsoleControl, TRUE); }
bool IsTerminal(std::FILE* stream) {
  if (!_isatty(_fileno(stream))) return false;
  // The live lines redraw with escape sequences; older consoles cannot.
  HANDLE console = ::GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  return ::GetConsoleMode(console, &mode) &&
         ::SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}
#else
extern "C" void OnStopSignal(int) { stopRequested = true; }
void CatchInterrupts() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}
bool IsTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) != 0; }
#endif

// The digest of the image file's bytes as they were loaded (scrambled again,
// so it matches a digest of the file itself), without reading the file twice.
void DescribeImage(const std::string& path, const PortRun& run, ImageInfo& image) {
  std::vector<std::uint8_t> bytes(run.imageData(), run.imageData() + run.imageLength());
  ScrambleImage(bytes.data(), bytes.size());
  image.path = path;
  image.bytes = run.imageLength();
  image.sha256 = Sha256Hex(bytes.data(), bytes.size());
}

// Output is written from fixed buffers while the runs go on; the stream's own
// buffer is fixed too, so no write allocates.
void FixOutputBuffer() {
  static char buffer[1 << 14];
  std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
}

// Runs `runs` with one loop and reports them; the common part of program and station.
struct Session {
  std::vector<std::unique_ptr<PortRun>> runs;
  ImageInfo image;
  RunLog log;
  bool logging = false;
};

int PrepareImage(Session& session, const std::string& imagePath) {
  std::string message;
  for (auto& run : session.runs) {
    if (!run->Load(imagePath, message)) {
      std::fprintf(stderr, "tarnwick-cli: %s\n", message.c_str());
      return kExitImage;
    }
  }
  DescribeImage(imagePath, *session.runs.front(), session.image);
  return kExitSuccess;
}

RunSettings SettingsFrom(const CommonOptions& options, bool loop) {
  RunSettings settings;
  settings.stallTicks = static_cast<std::uint32_t>(options.stallTimeout * 1000.0 / kTimerPeriodMs + 0.5);
  if (settings.stallTicks == 0) settings.stallTicks = 1;
  settings.loop = loop;
  settings.trace = options.verbose ? stderr : nullptr;
  return settings;
}

ReportOptions ReportingFrom(const CommonOptions& options) {
  ReportOptions report;
  report.json = options.json;
  report.quiet = options.quiet;
  report.live = !options.json && !options.quiet && IsTerminal(stdout);
  return report;
}

// The image is the last argument; the ones before it are ports.
bool SplitArguments(const std::vector<std::string>& arguments, std::vector<std::string>& ports, std::string& image) {
  if (arguments.empty()) return false;
  ports.assign(arguments.begin(), arguments.end() - 1);
  image = arguments.back();
  return true;
}

int RunProgram(const CommonOptions& options, const std::vector<std::string>& arguments) {
  std::vector<std::string> portArguments;
  std::string imagePath;
  if (!SplitArguments(arguments, portArguments, imagePath)) return kExitUsage;
  std::vector<PortTarget> targets;
  if (portArguments.empty()) {
    targets = DefaultScanPorts(options.tree);
  } else {
    std::string error;
    if (!ResolvePorts(portArguments, options.tree, targets, error)) {
      std::fprintf(stderr, "tarnwick-cli program: %s\n", error.c_str());
      return kExitUsage;
    }
  }

  Session session;
  std::string error;
  if (!options.logPath.empty() && !session.log.Open(options.logPath, error)) {
    std::fprintf(stderr, "tarnwick-cli: %s\n", error.c_str());
    return kExitUsage;
  }
  const auto start = std::chrono::steady_clock::now();
  Reporter reporter(ReportingFrom(options), start, session.image, options.logPath.empty() ? nullptr : &session.log);
  session.runs.push_back(std::make_unique<PortRun>(targets, SettingsFrom(options, false), reporter));
  if (const int status = PrepareImage(session, imagePath); status != kExitSuccess) return status;
  PortRun& run = *session.runs.front();
  reporter.Watch({&run});
  FixOutputBuffer();
  CatchInterrupts();
  RunLoop({&run}, stopRequested, std::chrono::milliseconds(kTimerPeriodMs), [&] { reporter.AfterTick(); });
  reporter.ClearLive();

  switch (run.lastOutcome()) {
    case Outcome::Success:
      return kExitSuccess;
    case Outcome::Failure:
      return kExitFailure;
    case Outcome::NoDevice:
      std::fprintf(stderr, "No device answered on %s:\n",
                   targets.size() == 1 ? "the port tried" : "any of the ports tried");
      run.DescribeTriedPorts(stderr, kProbeLimit * kTimerPeriodMs / 1000.0);
      return kExitNoDevice;
    case Outcome::Stalled:
      return kExitStalled;
    case Outcome::PortLost:
      return kExitPortLost;
    case Outcome::Interrupted:
      return kExitInterrupted;
  }
  return kExitFailure;
}

int RunStation(const CommonOptions& options, bool loop, const std::vector<std::string>& arguments) {
  std::vector<std::string> portArguments;
  std::string imagePath;
  if (!SplitArguments(arguments, portArguments, imagePath) || portArguments.empty()) {
    std::fprintf(stderr, "tarnwick-cli station: name at least one PORT before the image\n");
    return kExitUsage;
  }
  std::vector<PortTarget> targets;
  std::string error;
  if (!ResolvePorts(portArguments, options.tree, targets, error)) {
    std::fprintf(stderr, "tarnwick-cli station: %s\n", error.c_str());
    return kExitUsage;
  }
  std::set<std::string> paths;
  for (const PortTarget& target : targets) {
    if (target.path.empty()) {
      std::fprintf(stderr, "tarnwick-cli station: %s: %s\n", target.label.c_str(), target.missing.c_str());
      return kExitUsage;
    }
    if (!paths.insert(target.path).second) {
      std::fprintf(stderr, "tarnwick-cli station: %s is named twice\n", target.path.c_str());
      return kExitUsage;
    }
  }

  Session session;
  if (!options.logPath.empty() && !session.log.Open(options.logPath, error)) {
    std::fprintf(stderr, "tarnwick-cli: %s\n", error.c_str());
    return kExitUsage;
  }
  const auto start = std::chrono::steady_clock::now();
  Reporter reporter(ReportingFrom(options), start, session.image, options.logPath.empty() ? nullptr : &session.log);
  const RunSettings settings = SettingsFrom(options, loop);
  for (const PortTarget& target : targets) {
    session.runs.push_back(std::make_unique<PortRun>(std::vector<PortTarget>{target}, settings, reporter));
  }
  if (const int status = PrepareImage(session, imagePath); status != kExitSuccess) return status;

  std::vector<PortRun*> runs;
  for (auto& run : session.runs) runs.push_back(run.get());
  reporter.Watch(runs);
  FixOutputBuffer();
  CatchInterrupts();
  RunLoop(runs, stopRequested, std::chrono::milliseconds(kTimerPeriodMs), [&] { reporter.AfterTick(); });
  reporter.Summary();

  bool allSucceeded = true;
  for (const PortRun* run : runs) allSucceeded = allSucceeded && run->failed() == 0;
  return allSucceeded ? kExitSuccess : kExitFailure;
}

int ListPorts(const CommonOptions& options, const std::vector<std::string>& mappings) {
  std::array<std::string, 4> mapped;
  std::string error;
  if (!ComMapping(options.tree, mappings, mapped, error)) {
    std::fprintf(stderr, "tarnwick-cli ports: %s\n", error.c_str());
    return kExitUsage;
  }
  const std::vector<SerialDevice> devices = ListSerialDevices(options.tree);
  JsonLine line;
  for (std::size_t i = 0; i < mapped.size(); ++i) {
    const std::string name = "COM" + std::to_string(i + 1);
    if (options.json) {
      line.Clear();
      line.String("event", "mapping").String("port", name.c_str());
      line.String("path", mapped[i].empty() ? nullptr : mapped[i].c_str());
      std::fputs(line.Finish(), stdout);
    } else {
      std::printf("%s = %s\n", name.c_str(), mapped[i].empty() ? "(none)" : mapped[i].c_str());
    }
  }
  if (!options.json) std::printf("\n%s\n", devices.empty() ? "No serial devices." : "Serial devices:");
  for (const SerialDevice& device : devices) {
    if (options.json) {
      line.Clear();
      line.String("event", "device").String("path", device.path.c_str()).String("name", device.name.c_str());
      line.String("by_id", device.byId.empty() ? nullptr : device.byId.front().c_str());
      line.String("driver", device.driver.empty() ? nullptr : device.driver.c_str());
      line.Bool("usb", device.usb);
      if (device.usb) {
        line.String("vendor_id", device.vendorId.c_str()).String("product_id", device.productId.c_str());
        line.String("manufacturer", device.manufacturer.c_str()).String("product", device.product.c_str());
        line.String("serial", device.serial.c_str());
      }
      line.Bool("access", device.accessible);
      if (!device.accessible) line.String("access_advice", device.accessAdvice.c_str());
      std::fputs(line.Finish(), stdout);
      continue;
    }
    std::printf("%s", device.path.c_str());
    if (!device.driver.empty()) std::printf("  driver %s", device.driver.c_str());
    if (device.usb) {
      std::printf("  usb:%s:%s", device.vendorId.c_str(), device.productId.c_str());
      if (!device.serial.empty()) std::printf(":%s", device.serial.c_str());
    }
    std::printf("\n");
    if (device.usb && (!device.manufacturer.empty() || !device.product.empty())) {
      std::printf("    %s%s%s\n", device.manufacturer.c_str(), device.manufacturer.empty() ? "" : " ",
                  device.product.c_str());
    }
    for (const std::string& name : device.byId) std::printf("    %s\n", name.c_str());
    std::printf("    %s\n", device.accessible ? "you may open it" : ("cannot open it: " + device.accessAdvice).c_str());
  }
  std::fflush(stdout);
  return kExitSuccess;
}

// What each command's exit status means, for its own help and the overall one.
constexpr const char* kProgramExitStatus =
    "0 success; 1 the device reported a failure; 2 usage; 3 no device\n"
    "answered on any port tried; 4 the device stopped asking (stalled); 5 the\n"
    "port was lost; 6 the image cannot be loaded; 130 interrupted.";
constexpr const char* kStationExitStatus = "0 when every run succeeded, 1 otherwise, 2 usage.";
constexpr const char* kPortsExitStatus = "0.";

int Main(int argc, char** argv) {
  CommandLine line;
  const std::unique_ptr<CLI::App> app = MakeApp(line, {kProgramExitStatus, kStationExitStatus, kPortsExitStatus});
  try {
    ParseArguments(*app, line, argc, argv);
  } catch (const CLI::ParseError& error) {
    const int status = app->exit(error);
    return status == 0 ? 0 : kExitUsage;
  }
  // The JSON lines get room for the longest they can be before any is made,
  // so that none grows while the runs go on.
  JsonLine::SetInitialCapacity(LongestJsonLine(line));

  const CommonOptions& options = line.options;
  const bool loop = line.loop;
  const auto& portsArguments = line.portsArguments;
  const auto& programArguments = line.programArguments;
  const auto& stationArguments = line.stationArguments;
  const CLI::App *ports = line.ports, *program = line.program;
  if (*ports) return ListPorts(options, portsArguments);
  if (*program) return RunProgram(options, programArguments);
  return RunStation(options, loop, stationArguments);
}

}  // namespace
}  // namespace tarnwick::cli

int main(int argc, char** argv) { return tarnwick::cli::Main(argc, argv); }
