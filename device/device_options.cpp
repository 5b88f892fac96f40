#include "device_options.h"

#include <charconv>
#include <cstdlib>
#include <functional>
#include <limits>
#include <memory>

#include "program_options.h"

namespace tarnwick::device {

namespace {

bool ParseUnsigned(const std::string& text, unsigned long long limit, unsigned long long& value) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  int base = 10;
  const char* begin = text.c_str();
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    begin += 2;
  }
  const char* end = text.c_str() + text.size();
  const auto [rest, error] = std::from_chars(begin, end, value, base);
  return error == std::errc{} && rest == end && value <= limit;
}

bool ParseRate(const std::string& text, double& rate) {
  if (text.empty()) return false;
  char* end = nullptr;
  rate = std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size() && rate >= 0.0 && rate <= 1.0;
}

// A value option whose text `read` turns into the setting, or refuses with
// the message it returns.
using Reader = std::function<std::string(const std::string& value)>;
void AddValue(CLI::App& app, const std::string& name, const std::string& type, const std::string& description,
              Reader read) {
  app.add_option_function<std::string>(
         name,
         [read = std::move(read)](const std::string& value) {
           const std::string refusal = read(value);
           if (!refusal.empty()) throw CLI::ValidationError(refusal);
         },
         description)
      ->type_name(type);
}

// A whole number from 0 to `limit` (from 1 with `fromOne`), decimal or 0x hex.
template <typename T>
Reader Number(T& into, unsigned long long limit, const std::string& refusal, bool fromOne = false) {
  return [&into, limit, refusal, fromOne](const std::string& value) {
    unsigned long long number = 0;
    if (!ParseUnsigned(value, limit, number) || (fromOne && number == 0)) return refusal + value;
    into = static_cast<T>(number);
    return std::string();
  };
}

Reader Rate(double& into, const std::string& name) {
  return [&into, name](const std::string& value) {
    return ParseRate(value, into) ? std::string() : "bad " + name + " (0 to 1): " + value;
  };
}

Reader Path(std::string& into, const std::string& name) {
  return [&into, name](const std::string& value) {
    into = value;
    return value.empty() ? name + " needs a value" : std::string();
  };
}

// The faults the device puts on the line, each a chance from 0 to 1.
void AddFaultOptions(CLI::App& a, DeviceOptions& options) {
  AddValue(a, "--corrupt", "P", "chance that a byte from the host has one bit flipped",
           Rate(options.faults.corrupt, "--corrupt"));
  AddValue(a, "--drop", "P", "chance that a byte from the host is lost", Rate(options.faults.drop, "--drop"));
  AddValue(a, "--noise", "P", "chance of 1 to 4 stray bytes (never 0x33) ahead of a frame sent",
           Rate(options.faults.noise, "--noise"));
  AddValue(a, "--corrupt-sent", "P", "chance that a byte of a frame sent has one bit flipped",
           Rate(options.faults.corruptSent, "--corrupt-sent"));
  AddValue(a, "--drop-sent", "P", "chance that a byte of a frame sent is lost",
           Rate(options.faults.dropSent, "--drop-sent"));
}

#ifdef _WIN32
constexpr const char* kUsage = "[options] PORT";
constexpr const char* kDescription =
    "A simulated target device: answers the host's handshake, asks for the image\n"
    "block by block and reports the result. It serves the COM port PORT (COM6,\n"
    "or \\\\.\\COM12), 8N1 without flow control, and prints its name as the first\n"
    "line. The host's port is joined to it by a null-modem cable, or the two\n"
    "are the ends of a virtual port pair. Ctrl+C ends it.";
#else
constexpr const char* kUsage = "[options] [PORT]";
constexpr const char* kDescription =
    "A simulated target device: answers the host's handshake, asks for the image\n"
    "block by block and reports the result. Without PORT it creates a\n"
    "pseudo-terminal and prints the path of its serial end as the first line;\n"
    "with PORT it serves that serial port.";
#endif

std::unique_ptr<CLI::App> MakeDeviceApp(DeviceOptions& options) {
  auto app = options::MakeApp({"tarnwick-device",
                               {kUsage},
                               kDescription,
                               "A block is asked for at most 10 times; after that the run ends with status 2.\n"
                               "A run that goes past 65536 bytes ends with status 3. A block not received\n"
                               "within 1 s (at --baud 0) or 1.5 s plus its transfer time is asked for again.\n"
                               "\n"
                               "Exit status: 0 when every run received its image whole (and equal to RAW),\n"
                               "no run was cut short, and with --runs N all N runs were served; 1 otherwise;\n"
                               "2 for bad arguments."});
  constexpr unsigned long long kMostUnsigned = std::numeric_limits<unsigned>::max();
  CLI::App& a = *app;
  AddValue(a, "--link", "PATH", "also make a symlink PATH to the pseudo-terminal (removed on exit)",
           Path(options.link, "--link"));
#ifdef _WIN32
  // Taken only to be refused with a reason: there is no pseudo-terminal to link to.
  a.get_option("--link")->group("");
#endif
  AddValue(a, "--out", "FILE", "write each image received whole: run 1 to FILE, run N to FILE.N",
           Path(options.out, "--out"));
  AddValue(a, "--expect", "RAW", "compare each image with the raw (unscrambled) file RAW",
           Path(options.expect, "--expect"));
  AddValue(a, "--baud", "N",
#ifdef _WIN32
           "the port's speed: 1200, 2400, 9600, 19200, 38400, 57600\n"
           "or 115200; 4800 otherwise (the default)",
#else
           "line speed, 10 bits a byte, both directions (default 4800;\n"
           "0: no pacing). On a real port it sets the port's speed.",
#endif
           Number(options.baud, 4'000'000, "bad --baud: "));
  AddValue(a, "--runs", "N", "serve N runs, then exit (default 0: until stopped)",
           Number(options.runs, kMostUnsigned, "bad --runs: "));
  AddValue(a, "--status", "N", "status to report after an image received whole (default 0)",
           [&options](const std::string& value) {
             std::uint8_t status = 0;
             const std::string refusal = Number(status, 255, "bad --status (0 to 255): ")(value);
             if (refusal.empty()) options.status = status;
             return refusal;
           });
  AddValue(a, "--answer-after", "N", "ignore the first N-1 handshakes",
           Number(options.answerAfter, kMostUnsigned, "bad --answer-after (1 or more): ", true));
  a.add_flag("--silent", options.silent, "never answer");
  AddValue(a, "--seed", "N", "seed of the fault generator (default 1)",
           Number(options.seed, std::numeric_limits<std::uint32_t>::max(), "bad --seed: "));
  AddFaultOptions(a, options);
  AddValue(a, "--hang-up-after", "N",
           "once a run has taken N good blocks, close the line for good\n"
           "(as a pulled cable would), count the run as cut short and exit",
           [&options](const std::string& value) {
             unsigned blocks = 0;
             const std::string refusal = Number(blocks, kMostUnsigned, "bad --hang-up-after: ")(value);
             if (refusal.empty()) options.hangUpAfter = blocks;
             return refusal;
           });
  AddValue(a, "--repeat", "P", "chance of asking again for a good block", Rate(options.repeat, "--repeat"));
  a.add_flag("-v,--verbose", options.verbose, "log each frame on standard error");
  a.add_option("PORT", options.port)->type_name("PORT");
  return app;
}

}  // namespace

std::string DeviceUsage() {
  DeviceOptions options;
  return MakeDeviceApp(options)->help();
}

std::string OutputPathForRun(const std::string& out, unsigned run) {
  return run <= 1 ? out : out + "." + std::to_string(run);
}

ParsedOptions ParseDeviceOptions(const std::vector<std::string>& arguments) {
  ParsedOptions parsed;
  const std::unique_ptr<CLI::App> app = MakeDeviceApp(parsed.options);
  const options::Parsed result = options::Parse(*app, arguments);
  parsed.error = result.error;
  switch (result.outcome) {
    case options::Outcome::Run:
      parsed.outcome = ParsedOptions::Outcome::Run;
      break;
    case options::Outcome::Help:
      parsed.outcome = ParsedOptions::Outcome::Help;
      break;
    case options::Outcome::Version:
      parsed.outcome = ParsedOptions::Outcome::Version;
      break;
    case options::Outcome::Error:
      parsed.outcome = ParsedOptions::Outcome::Error;
      break;
  }
  return parsed;
}

}  // namespace tarnwick::device
