// tarnwick-cli's commands and options: what the command line may say, checked
// as it is parsed, so that the commands get only values they can use.
#pragma once

#include <CLI/CLI.hpp>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "serial_devices.h"

namespace tarnwick::cli {

struct CommonOptions {
  double stallTimeout = 10;
  bool json = false;
  bool quiet = false;
  bool verbose = false;
  std::string logPath;  // empty: no log
  DeviceTree tree;
};

// The program and station commands' options.
void AddCommonOptions(CLI::App& command, CommonOptions& options);

// What the command line said, filled in by the app MakeApp makes.
struct CommandLine {
  CommonOptions options;
  bool loop = false;
  std::vector<std::string> portsArguments, programArguments, stationArguments;
  CLI::App* ports = nullptr;
  CLI::App* program = nullptr;
  CLI::App* station = nullptr;
};

// Each command's exit statuses in words, for its help and the overall one.
struct ExitStatusTexts {
  const char* program;
  const char* station;
  const char* ports;
};

// The command line's parser, its results going to `line`, which must outlive it.
std::unique_ptr<CLI::App> MakeApp(CommandLine& line, const ExitStatusTexts& exitStatus);

// Parses the command line into `line`, which `app` was made for; throws
// CLI::ParseError as CLI::App::parse does. Refused besides what the parser
// refuses: "--NAME=" with nothing after the '=' (the parser would take the
// next argument for its value: a port for the log file, say), and a port or
// image that is not an argument as given (the parser makes "-001" of
// "-q001": a flag run into the text after it).
void ParseArguments(CLI::App& app, const CommandLine& line, int argc, const char* const* argv);

// How long a JSON line may get while the runs go on, from the strings the
// command line gives and the longest that a port or device the program finds
// can add (paths resolved, stable names, sysfs strings): what to size the
// lines to before the runs start.
std::size_t LongestJsonLine(const CommandLine& line);

}  // namespace tarnwick::cli
