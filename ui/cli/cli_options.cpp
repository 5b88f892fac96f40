#include "cli_options.h"

#include <algorithm>

#include "commands_help_layout.h"
#include "json_line.h"

namespace tarnwick::cli {
namespace {

constexpr double kShortestStall = 0.1;
constexpr double kLongestStall = 86400.0;

// A number of seconds in range. The check asks whether the value is inside
// the range, not whether it is outside it: NaN is neither.
CLI::Validator StallSeconds() {
  return CLI::Validator(
      [](std::string& text) {
        double seconds = 0;
        if (CLI::detail::lexical_cast(text, seconds) && seconds >= kShortestStall && seconds <= kLongestStall) {
          return std::string();
        }
        return "\"" + text + "\" is not a number of seconds from 0.1 to 86400";
      },
      "FLOAT in [0.1 - 86400]");
}

CLI::Validator FileName() {
  return CLI::Validator(
      [](std::string& text) {
        return text.empty() ? std::string("the file name is empty (leave the option out to keep no log)")
                            : std::string();
      },
      "");
}

// `text` with every line after the first indented by `columns` spaces.
std::string Indented(const std::string& text, std::size_t columns) {
  std::string out;
  for (const char c : text) {
    out += c;
    if (c == '\n') out.append(columns, ' ');
  }
  return out;
}

}  // namespace

void AddCommonOptions(CLI::App& command, CommonOptions& options) {
  command.add_option("--stall-timeout", options.stallTimeout,
                     "a run that does not move on (no new block asked for, no result) for S seconds ends as stalled (default 10)")
      ->type_name("S")
      ->check(StallSeconds());
  command.add_flag("--json", options.json, "JSON Lines on standard output: status, progress and result events");
  command.add_flag("-q,--quiet", options.quiet, "only the result and errors");
  command.add_flag("-v,--verbose", options.verbose, "every frame on standard error, in hex");
  command.add_option("--log", options.logPath,
                     "append a start record when each run's device answers and an end record when it ends, a JSON "
                     "line each, to FILE (run id, time, port, adapter, image, outcome); a record that cannot be "
                     "written ends the runs (exit 7)")
      ->type_name("FILE")
      ->check(FileName());
  // Where the machine's devices are described; for tests on a fake tree.
  command.add_option("--dev-root", options.tree.devRoot)->group("");
  command.add_option("--sys-root", options.tree.sysRoot)->group("");
}

std::unique_ptr<CLI::App> MakeApp(CommandLine& line, const ExitStatusTexts& exitStatus) {
  auto app = std::make_unique<CLI::App>(
      "Programs the target device over a serial line, from scripts and on production stations.", "tarnwick-cli");
  app->set_version_flag("--version", "tarnwick-cli " TARNWICK_VERSION, "print the version and exit");
  // Every command's options on one page, as the manual page shows them.
  app->set_help_all_flag("--help-all", "print the help of every command and exit");
  app->formatter(std::make_shared<options::CommandsHelpLayout>());
  app->require_subcommand(1, 1);
  app->footer(
      "Ports:\n"
      "  A PORT is COMn (COM1 to COM4 as the dialog maps them; on Windows any n), COMn=PATH, a\n"
      "  device path, a name under /dev/serial/by-id, or usb:VID:PID[:SERIAL] for the adapters\n"
      "  with those IDs.\n"
      "\n"
      "Run \"tarnwick-cli COMMAND --help\" for a command's options, \"tarnwick-cli --help-all\" for all.\n"
      "\n"
      "Exit status:\n"
      "  program  " + Indented(exitStatus.program, 11) + "\n" +
      "  station  " + Indented(exitStatus.station, 11) + "\n" +
      "  ports    " + exitStatus.ports);

  CommonOptions& options = line.options;
  CLI::App* ports = app->add_subcommand("ports", "list the COM1 to COM4 mapping and every serial device; opens none");
  ports->add_flag("--json", options.json, "JSON Lines: one mapping or device a line");
  ports->add_option("--dev-root", options.tree.devRoot)->group("");
  ports->add_option("--sys-root", options.tree.sysRoot)->group("");
  ports->add_option("mapping", line.portsArguments, "COMn=PATH: point COMn at a device, as the dialog takes it")
      ->type_name("COMn=PATH");
  ports->footer(std::string("Exit status: ") + exitStatus.ports);

  CLI::App* program = app->add_subcommand("program", "program one device");
  AddCommonOptions(*program, options);
  program->add_option("arguments", line.programArguments,
                      "the ports to try, in order (default: the dialog's scan of COM1 to COM4), then the image")
      ->type_name("[PORT]... IMAGE.UPL")
      ->required();
  program->footer(std::string("Exit status: ") + Indented(exitStatus.program, 13));

  CLI::App* station = app->add_subcommand("station", "program a device on every PORT at once");
  AddCommonOptions(*station, options);
  station->add_flag("--loop", line.loop,
                    "after each run, wait for the next device on the same port and program it, until Ctrl-C; "
                    "each PORT is looked up again before each run, and one with nothing behind it waits for "
                    "its adapter");
  station->add_option("arguments", line.stationArguments, "the ports, then the image")
      ->type_name("PORT... IMAGE.UPL")
      ->required();
  station->footer(std::string("At the end (or at Ctrl-C) a summary for each port: devices programmed, failures.\n") +
                  "Exit status: " + Indented(exitStatus.station, 13));

  line.ports = ports;
  line.program = program;
  line.station = station;
  return app;
}

void ParseArguments(CLI::App& app, const CommandLine& line, int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--") break;  // what follows is arguments, whatever they look like
    if (argument.size() > 3 && argument.rfind("--", 0) == 0 && argument.back() == '=' &&
        argument.find('=') == argument.size() - 1) {
      throw CLI::ValidationError(argument.substr(0, argument.size() - 1), "nothing follows the '='");
    }
  }
  app.parse(argc, argv);
  const std::vector<std::string> given(argv + 1, argv + argc);
  for (const auto* arguments : {&line.portsArguments, &line.programArguments, &line.stationArguments}) {
    for (const std::string& argument : *arguments) {
      if (std::find(given.begin(), given.end(), argument) == given.end()) {
        throw CLI::ValidationError("\"" + argument + "\"",
                                   "not an argument as given: write a flag apart from the text after it");
      }
    }
  }
}

std::size_t LongestJsonLine(const CommandLine& line) {
  // What the machine can hand back for one name: a resolved path or a
  // sysfs string is at most a page; a path it makes from the device root and
  // an argument is about as long as the two.
  constexpr std::size_t kLongestFound = 4096;
  std::size_t longestArgument = 0;
  for (const auto* arguments : {&line.portsArguments, &line.programArguments, &line.stationArguments}) {
    for (const std::string& argument : *arguments) longestArgument = std::max(longestArgument, argument.size());
  }
  const std::size_t roots = line.options.tree.devRoot.size() + line.options.tree.sysRoot.size();
  const std::size_t longestName = std::max(kLongestFound, roots + longestArgument + 64);
  // A line's strings: the image path and the port as given (each at most the
  // longest argument), the port's path, its stable name and serial number,
  // and the engine's texts (short, but sized as a name all the same).
  return 2 * station::JsonLine::StringRoom(longestArgument) + 4 * station::JsonLine::StringRoom(longestName) + 1024;
}

}  // namespace tarnwick::cli
