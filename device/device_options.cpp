#include "device_options.h"

#include <charconv>
#include <cstdlib>
#include <limits>

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

}  // namespace

std::string DeviceUsage() {
  return "usage: tarnwick-device [options] [PORT]\n"
         "A simulated target device: answers the host's handshake, asks for the image\n"
         "block by block and reports the result. Without PORT it creates a\n"
         "pseudo-terminal and prints the path of its serial end as the first line;\n"
         "with PORT it serves that serial port.\n"
         "\n"
         "Options:\n"
         "  --link PATH        also make a symlink PATH to the pseudo-terminal (removed on exit)\n"
         "  --out FILE         write each image received whole: run 1 to FILE, run N to FILE.N\n"
         "  --expect RAW       compare each image with the raw (unscrambled) file RAW\n"
         "  --baud N           line speed, 10 bits a byte, both directions (default 4800;\n"
         "                     0: no pacing). On a real port it sets the port's speed.\n"
         "  --runs N           serve N runs, then exit (default 0: until stopped)\n"
         "  --status N         status to report after an image received whole (default 0)\n"
         "  --answer-after N   ignore the first N-1 handshakes\n"
         "  --silent           never answer\n"
         "  --seed N           seed of the fault generator (default 1)\n"
         "  --corrupt P        chance that a byte from the host has one bit flipped\n"
         "  --drop P           chance that a byte from the host is lost\n"
         "  --noise P          chance of 1 to 4 stray bytes (never 0x33) ahead of a frame sent\n"
         "  --corrupt-sent P   chance that a byte of a frame sent has one bit flipped\n"
         "  --drop-sent P      chance that a byte of a frame sent is lost\n"
         "  --hang-up-after N  once a run has taken N good blocks, close the line for good\n"
         "                     (as a pulled cable would), count the run as cut short and exit\n"
         "  --repeat P         chance of asking again for a good block\n"
         "  -v, --verbose      log each frame on standard error\n"
         "  -h, --help         show this text\n"
         "  --version          show the version\n"
         "\n"
         "A block is asked for at most 10 times; after that the run ends with status 2.\n"
         "A run that goes past 65536 bytes ends with status 3. A block not received\n"
         "within 1 s (at --baud 0) or 1.5 s plus its transfer time is asked for again.\n"
         "\n"
         "Exit status: 0 when every run received its image whole (and equal to RAW),\n"
         "no run was cut short, and with --runs N all N runs were served; 1 otherwise;\n"
         "2 for bad arguments.\n";
}

std::string OutputPathForRun(const std::string& out, unsigned run) {
  return run <= 1 ? out : out + "." + std::to_string(run);
}

ParsedOptions ParseDeviceOptions(const std::vector<std::string>& arguments) {
  ParsedOptions parsed;
  DeviceOptions& options = parsed.options;
  auto fail = [&parsed](const std::string& message) {
    parsed.outcome = ParsedOptions::Outcome::Error;
    parsed.error = message;
    // The message names what was given; it must stay one line whatever that was.
    for (char& c : parsed.error) {
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    }
    return parsed;
  };

  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string name = arguments[i];
    std::optional<std::string> inlineValue;
    if (name.rfind("--", 0) == 0) {
      const auto equals = name.find('=');
      if (equals != std::string::npos) {
        inlineValue = name.substr(equals + 1);
        name.resize(equals);
      }
    }
    std::string value;
    auto takeValue = [&]() {
      if (inlineValue) {
        value = *inlineValue;
        return true;
      }
      if (i + 1 >= arguments.size()) return false;
      value = arguments[++i];
      return true;
    };
    auto needsValue = [&name]() { return name + " needs a value"; };

    unsigned long long number = 0;
    if (name == "-h" || name == "--help") {
      parsed.outcome = ParsedOptions::Outcome::Help;
      return parsed;
    } else if (name == "--version") {
      parsed.outcome = ParsedOptions::Outcome::Version;
      return parsed;
    } else if (name == "-v" || name == "--verbose") {
      options.verbose = true;
    } else if (name == "--silent") {
      options.silent = true;
    } else if (name == "--link" || name == "--out" || name == "--expect") {
      if (!takeValue() || value.empty()) return fail(needsValue());
      (name == "--link" ? options.link : name == "--out" ? options.out : options.expect) = value;
    } else if (name == "--baud") {
      if (!takeValue() || !ParseUnsigned(value, 4'000'000, number)) return fail("bad --baud: " + value);
      options.baud = static_cast<unsigned>(number);
    } else if (name == "--runs") {
      if (!takeValue() || !ParseUnsigned(value, std::numeric_limits<unsigned>::max(), number)) {
        return fail("bad --runs: " + value);
      }
      options.runs = static_cast<unsigned>(number);
    } else if (name == "--status") {
      if (!takeValue() || !ParseUnsigned(value, 255, number)) return fail("bad --status (0 to 255): " + value);
      options.status = static_cast<std::uint8_t>(number);
    } else if (name == "--answer-after") {
      if (!takeValue() || !ParseUnsigned(value, std::numeric_limits<unsigned>::max(), number) || number == 0) {
        return fail("bad --answer-after (1 or more): " + value);
      }
      options.answerAfter = static_cast<unsigned>(number);
    } else if (name == "--seed") {
      if (!takeValue() || !ParseUnsigned(value, std::numeric_limits<std::uint32_t>::max(), number)) {
        return fail("bad --seed: " + value);
      }
      options.seed = static_cast<std::uint32_t>(number);
    } else if (name == "--hang-up-after") {
      if (!takeValue() || !ParseUnsigned(value, std::numeric_limits<unsigned>::max(), number)) {
        return fail("bad --hang-up-after: " + value);
      }
      options.hangUpAfter = static_cast<unsigned>(number);
    } else if (name == "--corrupt" || name == "--drop" || name == "--noise" || name == "--corrupt-sent" ||
               name == "--drop-sent" || name == "--repeat") {
      double rate = 0.0;
      if (!takeValue() || !ParseRate(value, rate)) return fail("bad " + name + " (0 to 1): " + value);
      (name == "--corrupt"        ? options.faults.corrupt
       : name == "--drop"         ? options.faults.drop
       : name == "--noise"        ? options.faults.noise
       : name == "--corrupt-sent" ? options.faults.corruptSent
       : name == "--drop-sent"    ? options.faults.dropSent
                                  : options.repeat) = rate;
    } else if (name.size() > 1 && name[0] == '-') {
      return fail("unknown option " + name);
    } else if (options.port.empty()) {
      options.port = name;
    } else {
      return fail("more than one PORT: " + name);
    }
  }
  return parsed;
}

}  // namespace tarnwick::device
