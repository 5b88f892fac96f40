// tarnwick-cli: programming from scripts, build pipelines and production
// stations. Three commands: ports (what the machine has), program (one
// device) and station (a device on every port at once, again and again with
// --loop). The runs are the engine's, stepped by one 100 ms loop.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli_options.h"
#include "console.h"
#include "event_json.h"
#include "json_line.h"
#include "reporter.h"
#include "run_text.h"
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

// The image goes into every lane; the log is opened only once the image is
// known to be good, so that a bad image leaves the log as it was. A log that
// cannot be opened (a missing folder, no permission) is a failed log as much
// as one that cannot be written: the runs' record cannot be kept.
int Prepare(Station& station, const std::string& imagePath, const std::string& logPath) {
  std::string error;
  std::string warning;
  if (!station.Load(imagePath, error, warning)) {
    console::Print(stderr, "tarnwick-cli: %s\n", error.c_str());
    return kExitImage;
  }
  if (!warning.empty()) console::Print(stderr, "tarnwick-cli: %s\n", warning.c_str());
  if (logPath.empty() || station.OpenLog(logPath, error)) return kExitSuccess;
  console::Print(stderr, "tarnwick-cli: %s\n", error.c_str());
  return kExitLog;
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
  report.live = !options.json && !options.quiet && console::IsTerminal(stdout);
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

// Programs with a lane on each list of `lanes` until the runs end, showing
// them as the options ask; a station (`summary`) ends with each port's count.
// The exit status is `exitStatus(station)` once the runs went as they should.
template <typename ExitStatus>
int ProgramOn(const CommonOptions& options, bool loop, bool summary, const std::vector<std::vector<PortTarget>>& lanes,
              const std::string& imagePath, ExitStatus&& exitStatus) {
  StandardStreams streams(lanes.size());
  ImageInfo image;
  Reporter reporter(ReportingFrom(options, streams), std::chrono::steady_clock::now(), image);
  Station station(SettingsFrom(options, loop, reporter), reporter);
  for (const std::vector<PortTarget>& targets : lanes) station.AddLane(targets);
  if (const int status = Prepare(station, imagePath, options.logPath); status != kExitSuccess) return status;
  image = station.image();
  reporter.Watch(station.lanes());
  streams.Start();
  console::CatchStopRequests(stopRequested, runsEnded);
  RunLoop(station, stopRequested, std::chrono::milliseconds(kTimerPeriodMs), [&] { reporter.AfterTick(); });
  runsEnded = true;
  summary ? reporter.Summary() : reporter.ClearLive();
  reporter.Coalesced(streams.coalesced());
  // What is still queued goes out, waiting a few seconds at most for a slow
  // reader.
  streams.Finish(kOutputFlushLimit);
  return station.logFailed() ? kExitLog : exitStatus(station);
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
      console::Print(stderr, "tarnwick-cli program: %s\n", error.c_str());
      return kExitUsage;
    }
  }

  return ProgramOn(options, false, false, {targets}, imagePath, [&](const Station& station) {
    const Lane& lane = *station.lanes().front();
    switch (lane.lastOutcome()) {
      case RunOutcome::Success:
        return kExitSuccess;
      case RunOutcome::NoDevice:
        console::Print(stderr, "No device answered on %s:\n",
                       targets.size() == 1 ? "the port tried" : "any of the ports tried");
        for (const std::string& line : station::TriedPortSentences(lane, kProbeLimit * kTimerPeriodMs / 1000.0)) {
          console::Print(stderr, "%s\n", line.c_str());
        }
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
  });
}

int RunStation(const CommonOptions& options, bool loop, const std::vector<std::string>& arguments) {
  std::vector<std::string> portArguments;
  std::string imagePath;
  if (!SplitArguments(arguments, portArguments, imagePath) || portArguments.empty()) {
    console::Print(stderr, "tarnwick-cli station: name at least one PORT before the image\n");
    return kExitUsage;
  }
  // With --loop a name that stands for nothing yet waits for its adapter;
  // every name is resolved again before each of its runs.
  std::vector<PortTarget> targets;
  std::string error;
  if (!ResolvePorts(portArguments, options.tree, targets, error, loop ? Absent::Wait : Absent::Error)) {
    console::Print(stderr, "tarnwick-cli station: %s\n", error.c_str());
    return kExitUsage;
  }
  std::set<std::string> paths;
  for (const PortTarget& target : targets) {
    if (target.path.empty() && !loop) {
      console::Print(stderr, "tarnwick-cli station: %s: %s\n", Printable(target.label).c_str(), target.missing.c_str());
      return kExitUsage;
    }
    const std::string& named = target.path.empty() ? target.argument : target.path;
    if (!paths.insert(named).second) {
      console::Print(stderr, "tarnwick-cli station: %s is named twice\n", Printable(named).c_str());
      return kExitUsage;
    }
  }

  std::vector<std::vector<PortTarget>> lanes;
  for (const PortTarget& target : targets) lanes.push_back({target});
  return ProgramOn(options, loop, true, lanes, imagePath, [](const Station& station) {
    bool allSucceeded = true;
    for (const auto& lane : station.lanes()) allSucceeded = allSucceeded && lane->failed() == 0;
    return allSucceeded ? kExitSuccess : kExitFailure;
  });
}

int ListPorts(const CommonOptions& options, const std::vector<std::string>& mappings) {
  std::array<std::string, 4> mapped;
  std::string error;
  if (!ComMapping(options.tree, mappings, mapped, error)) {
    console::Print(stderr, "tarnwick-cli ports: %s\n", error.c_str());
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
      console::Write(stdout, line.Finish());
    } else {
      console::Print(stdout, "%s = %s\n", name.c_str(), mapped[i].empty() ? "(none)" : mapped[i].c_str());
    }
  }
  if (!options.json) console::Print(stdout, "\n%s\n", devices.empty() ? "No serial devices." : "Serial devices:");
  for (const SerialDevice& device : devices) {
    if (options.json) {
      console::Write(stdout, station::DeviceEvent(line, device));
      continue;
    }
    console::Write(stdout, station::DeviceDescription(device));
  }
  std::fflush(stdout);
  return kExitSuccess;
}

// What each command's exit status means, for its own help and the overall one.
constexpr const char* kProgramExitStatus =
    "0 success; 1 the device reported a failure; 2 usage; 3 no device\n"
    "answered on any port tried; 4 the run stopped moving on (stalled); 5 the\n"
    "port was lost; 6 the image cannot be loaded or is empty; 7 the --log\n"
    "file cannot be opened, or a record could not be written to it (the run\n"
    "was ended); 130 interrupted.";
constexpr const char* kStationExitStatus =
    "0 when every run succeeded, 1 otherwise, 2 usage, 6 the image cannot\n"
    "be loaded or is empty, 7 the --log file cannot be opened, or a record\n"
    "could not be written to it (no new run was started, the runs going on\n"
    "were ended).";
constexpr const char* kPortsExitStatus = "0.";

int Main(int argc, char** argv) {
  console::OpenMissingStandardStreams();
#ifndef _WIN32
  // A reader that went away (`| head -n 1`) ends the output, not the runs:
  // the write fails and that output is given up.
  std::signal(SIGPIPE, SIG_IGN);
#endif
  // File names in any script: UTF-8 from here on, on Windows as well.
  const std::vector<std::string> arguments = console::Utf8Arguments(argc, argv);
  std::vector<const char*> argumentPointers;
  for (const std::string& argument : arguments) argumentPointers.push_back(argument.c_str());
  CommandLine line;
  const std::unique_ptr<CLI::App> app = MakeApp(line, {kProgramExitStatus, kStationExitStatus, kPortsExitStatus});
  try {
    ParseArguments(*app, line, static_cast<int>(argumentPointers.size()), argumentPointers.data());
  } catch (const CLI::ParseError& error) {
    // Help and refusals may quote an argument: they go out as the program's other text does.
    std::ostringstream out, err;
    const int status = app->exit(error, out, err);
    console::Write(stdout, out.str());
    console::Write(stderr, err.str());
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
