// tarnwick-cli: programming from scripts, build pipelines and production
// stations. Three commands: ports (what the machine has), program (one
// device) and station (a device on every port at once, again and again with
// --loop). The runs are the engine's, stepped by one 100 ms loop.
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#endif

#include "cli_options.h"
#include "json_line.h"
#include "ports_line.h"
#include "reporter.h"
#include "serial_devices.h"
#include "standard_streams.h"
#include "station.h"

namespace tarnwick::cli {
namespace {

using station::LaneSettings;
using station::Station;

// Exit status of program.
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNoDevice = 3;
constexpr int kExitStalled = 4;
constexpr int kExitPortLost = 5;
constexpr int kExitImage = 6;
constexpr int kExitLog = 7;
constexpr int kExitInterrupted = 130;

std::atomic<bool> stopRequested{false};
// Set once the loop has returned: every run has ended, been recorded and
// closed its port.
std::atomic<bool> runsEnded{false};

// What is still queued for standard output and standard error at the end is
// waited for this long; a reader that takes longer loses it (every run is
// recorded by then).
constexpr std::chrono::milliseconds kOutputFlushLimit{5000};

#ifdef _WIN32
// Windows ends the process as soon as the handler returns from a console's
// close, a logoff or a shutdown (and gives it a few seconds at most): it waits
// there until the loop has ended the runs, recorded them and closed the ports.
constexpr DWORD kEndingWaitMs = 4500;

BOOL WINAPI OnConsoleControl(DWORD event) {
  stopRequested = true;
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    for (DWORD waited = 0; !runsEnded.load() && waited < kEndingWaitMs; waited += 20) ::Sleep(20);
  }
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
// A hang-up (the terminal closed) ends the runs as Ctrl-C does.
extern "C" void OnStopSignal(int) { stopRequested = true; }
void CatchInterrupts() {
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

// After the runs: says how many events were coalesced, then lets what is
// still queued go out, waiting a few seconds at most for a slow reader.
void FinishOutput(Reporter& reporter, StandardStreams& streams) {
  reporter.Coalesced(streams.coalesced());
  streams.Finish(kOutputFlushLimit);
}

// The image goes into every lane; the log is opened only once the image is
// known to be good, so that a bad image leaves the log as it was. A log that
// cannot be opened is a usage error; one that cannot be written, a failed log.
int Prepare(Station& station, const std::string& imagePath, const std::string& logPath) {
  std::string error;
  std::string warning;
  if (!station.Load(imagePath, error, warning)) {
    std::fprintf(stderr, "tarnwick-cli: %s\n", error.c_str());
    return kExitImage;
  }
  if (!warning.empty()) std::fprintf(stderr, "tarnwick-cli: %s\n", warning.c_str());
  if (logPath.empty() || station.OpenLog(logPath, error)) return kExitSuccess;
  std::fprintf(stderr, "tarnwick-cli: %s\n", error.c_str());
  return station.logFailed() ? kExitLog : kExitUsage;
}

// `trace`: where -v's frame trace goes.
LaneSettings SettingsFrom(const CommonOptions& options, bool loop, station::TraceSink& trace) {
  LaneSettings settings;
  settings.trace = options.verbose ? &trace : nullptr;
  settings.stallTicks = static_cast<std::uint32_t>(options.stallTimeout * 1000.0 / kTimerPeriodMs + 0.5);
  if (settings.stallTicks == 0) settings.stallTicks = 1;
  settings.loop = loop;
  settings.tree = options.tree;
  return settings;
}

// Everything the reporter says goes through the queues of `streams`.
ReportOptions ReportingFrom(const CommonOptions& options, StandardStreams& streams) {
  ReportOptions report;
  report.json = options.json;
  report.quiet = options.quiet;
  report.live = !options.json && !options.quiet && IsTerminal(stdout);
  report.outQueue = &streams.out();
  report.errQueue = &streams.err();
  return report;
}

// The image is the last argument; the ones before it are ports.
bool SplitArguments(const std::vector<std::string>& arguments, std::vector<std::string>& ports, std::string& image) {
  if (arguments.empty()) return false;
  ports.assign(arguments.begin(), arguments.end() - 1);
  image = arguments.back();
  return true;
}

// Ticks `station` until its runs end, showing them through `reporter`.
void Run(Station& station, Reporter& reporter, StandardStreams& streams) {
  reporter.Watch(station.lanes());
  streams.Start();
  CatchInterrupts();
  RunLoop(station, stopRequested, std::chrono::milliseconds(kTimerPeriodMs), [&] { reporter.AfterTick(); });
  runsEnded = true;
}

// Why no device answered, port by port, and what to check.
void DescribeTriedPorts(const Lane& lane) {
  const double silentSeconds = kProbeLimit * kTimerPeriodMs / 1000.0;
  for (const station::TriedPort& tried : lane.TriedPorts()) {
    const PortTarget& target = *tried.target;
    std::string name = target.label;
    if (!target.path.empty() && target.path != target.label) name += " (" + target.path + ")";
    if (tried.open == nullptr) {
      std::fprintf(stderr, "%s: %s\n", name.c_str(), target.missing.c_str());
    } else if (!tried.open->tried) {
      std::fprintf(stderr, "%s: not tried\n", name.c_str());
    } else if (!tried.open->opened) {
      // The port's own words name its path, which the line names already.
      std::string_view reason = tried.open->error.data();
      if (const std::string prefix = target.path + ": "; reason.starts_with(prefix)) reason.remove_prefix(prefix.size());
      std::fprintf(stderr, "%s: could not open it: %.*s; %s\n", name.c_str(), static_cast<int>(reason.size()),
                   reason.data(), OpenAdvice(target.path, tried.open->kind).c_str());
    } else {
      std::fprintf(stderr,
                   "%s: opened, but no device answered in %.0f s: check that the device has power, that the "
                   "cable is plugged in at both ends, that the device is waiting for a host (reset it), or try "
                   "another port\n",
                   name.c_str(), silentSeconds);
    }
  }
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

  StandardStreams streams(1);
  ImageInfo image;
  Reporter reporter(ReportingFrom(options, streams), std::chrono::steady_clock::now(), image);
  Station station(SettingsFrom(options, false, reporter), reporter);
  const Lane& lane = station.AddLane(targets);
  if (const int status = Prepare(station, imagePath, options.logPath); status != kExitSuccess) return status;
  image = station.image();
  Run(station, reporter, streams);
  reporter.ClearLive();
  FinishOutput(reporter, streams);

  if (station.logFailed()) return kExitLog;
  switch (lane.lastOutcome()) {
    case RunOutcome::Success:
      return kExitSuccess;
    case RunOutcome::NoDevice:
      std::fprintf(stderr, "No device answered on %s:\n",
                   targets.size() == 1 ? "the port tried" : "any of the ports tried");
      DescribeTriedPorts(lane);
      return kExitNoDevice;
    case RunOutcome::Stalled:
      return kExitStalled;
    case RunOutcome::PortLost:
      return kExitPortLost;
    case RunOutcome::Interrupted:
      return kExitInterrupted;
    case RunOutcome::Failure:
    case RunOutcome::None:
      break;
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
  // With --loop a name that stands for nothing yet waits for its adapter;
  // every name is resolved again before each of its runs.
  std::vector<PortTarget> targets;
  std::string error;
  if (!ResolvePorts(portArguments, options.tree, targets, error, loop ? Absent::Wait : Absent::Error)) {
    std::fprintf(stderr, "tarnwick-cli station: %s\n", error.c_str());
    return kExitUsage;
  }
  std::set<std::string> paths;
  for (const PortTarget& target : targets) {
    if (target.path.empty() && !loop) {
      std::fprintf(stderr, "tarnwick-cli station: %s: %s\n", Printable(target.label).c_str(), target.missing.c_str());
      return kExitUsage;
    }
    const std::string& named = target.path.empty() ? target.argument : target.path;
    if (!paths.insert(named).second) {
      std::fprintf(stderr, "tarnwick-cli station: %s is named twice\n", Printable(named).c_str());
      return kExitUsage;
    }
  }

  StandardStreams streams(targets.size());
  ImageInfo image;
  Reporter reporter(ReportingFrom(options, streams), std::chrono::steady_clock::now(), image);
  Station station(SettingsFrom(options, loop, reporter), reporter);
  for (const PortTarget& target : targets) station.AddLane({target});
  if (const int status = Prepare(station, imagePath, options.logPath); status != kExitSuccess) return status;
  image = station.image();
  Run(station, reporter, streams);
  reporter.Summary();
  FinishOutput(reporter, streams);

  if (station.logFailed()) return kExitLog;
  bool allSucceeded = true;
  for (const auto& lane : station.lanes()) allSucceeded = allSucceeded && lane->failed() == 0;
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
      DeviceFields(line, device);
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
    "answered on any port tried; 4 the run stopped moving on (stalled); 5 the\n"
    "port was lost; 6 the image cannot be loaded or is empty; 7 a record\n"
    "could not be written to the --log file (the run was ended); 130\n"
    "interrupted.";
constexpr const char* kStationExitStatus =
    "0 when every run succeeded, 1 otherwise, 2 usage, 6 the image cannot\n"
    "be loaded or is empty, 7 a record could not be written to the --log file\n"
    "(no new run was started, the runs going on were ended).";
constexpr const char* kPortsExitStatus = "0.";

int Main(int argc, char** argv) {
  OpenMissingStandardStreams();
#ifndef _WIN32
  // A reader that went away (`| head -n 1`) ends the output, not the runs:
  // the write fails and that output is given up.
  std::signal(SIGPIPE, SIG_IGN);
#endif
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
