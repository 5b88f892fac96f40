// The command lines of tarnwick-device, tarnwick-pack, tarnwick and
// tarnwick-demo, parsed with CLI11, and the one shape their --help takes:
//
//   usage: NAME FORM               (further forms aligned below it)
//   what the program does
//
//   Options:
//     --name VALUE  what it does   (the positionals that have a description first)
//
//   footer (Exit status: ...)
//
// help2man reads it for the manual pages (see man/help-for-manual.sh).
#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick::options {

struct ProgramText {
  std::string name;                // "tarnwick-device"
  std::vector<std::string> forms;  // what follows the name on each usage line
  std::string description;         // a line or more under the usage lines
  std::string footer;              // after the options, e.g. "Exit status: ..."
};

// An App laid out as above, with -h/--help and --version ("NAME VERSION")
// already on it: give its options after these, so that a --help or --version
// anywhere wins over a wrong value.
std::unique_ptr<CLI::App> MakeApp(const ProgramText& text);

enum class Outcome { Run, Help, Version, Error };

struct Parsed {
  Outcome outcome = Outcome::Run;
  std::string error;  // one line, when outcome is Error
};

// Parses `arguments` (argv without the program's name). A positional
// argument that looks like an option ("-x") is refused unless "--" came first.
Parsed Parse(CLI::App& app, const std::vector<std::string>& arguments);

// A refusal that names `text`, kept to one line whatever `text` holds.
Parsed Refused(std::string text);

// What main does with a parse that is not Run: `help` or "NAME VERSION" on
// standard output (exit 0), or "NAME: error" and `help` on standard error
// (exit `usageStatus`). Nothing for Run.
std::optional<int> Answer(const Parsed& parsed, const std::string& name, const std::string& help,
                          int usageStatus = 2);

// argv without the program's name.
std::vector<std::string> ArgumentsOf(int argc, char* argv[]);

}  // namespace tarnwick::options
