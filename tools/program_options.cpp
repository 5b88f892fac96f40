#include "program_options.h"

#include <algorithm>
#include <iostream>

namespace tarnwick::options {
namespace {

class HelpLayout : public CLI::Formatter {
 public:
  explicit HelpLayout(std::vector<std::string> forms) : forms_(std::move(forms)) {}

  std::string make_help(const CLI::App* app, std::string /*name*/, CLI::AppFormatMode /*mode*/) const override {
    std::string out;
    for (std::size_t i = 0; i < forms_.size(); ++i) {
      out += (i == 0 ? "usage: " : "       ") + app->get_name() + " " + forms_[i] + "\n";
    }
    out += app->get_description() + "\n";

    // Positionals with a description, then the options, in the order given.
    std::vector<const CLI::Option*> listed = app->get_options(
        [](const CLI::Option* option) { return option->get_positional() && !option->get_description().empty(); });
    for (const CLI::Option* option :
         app->get_options([](const CLI::Option* option) { return !option->get_positional(); })) {
      if (!option->get_group().empty()) listed.push_back(option);
    }
    std::size_t width = 0;
    for (const CLI::Option* option : listed) width = std::max(width, Name(option).size());
    out += "\nOptions:\n";
    for (const CLI::Option* option : listed) {
      // The description in a column two spaces after the longest name; its
      // further lines under its first.
      std::string line = "  " + Name(option);
      line.append(width + 4 - line.size(), ' ');
      for (const char c : option->get_description()) {
        line += c;
        if (c == '\n') line.append(width + 4, ' ');
      }
      out += line + "\n";
    }
    if (!app->get_footer().empty()) out += "\n" + app->get_footer() + "\n";
    return out;
  }

 private:
  // "--baud N", "-v, --verbose", "COMn=DEVICE".
  static std::string Name(const CLI::Option* option) {
    if (option->get_positional()) return option->get_type_name();
    std::string name;
    for (const char c : option->get_name(false, true)) name += c == ',' ? std::string(", ") : std::string(1, c);
    if (option->get_type_size() != 0) name += " " + option->get_type_name();
    return name;
  }

  std::vector<std::string> forms_;
};

}  // namespace

std::unique_ptr<CLI::App> MakeApp(const ProgramText& text) {
  auto app = std::make_unique<CLI::App>(text.description, text.name);
  app->formatter(std::make_shared<HelpLayout>(text.forms));
  app->footer(text.footer);
  // Flags whose callbacks end the parse, ahead of every option the program
  // adds: callbacks run in the order the options were made, before any
  // missing or extra argument is looked at.
  app->set_help_flag();
  app->add_flag_callback("-h,--help", [] { throw CLI::CallForHelp(); }, "show this text and exit");
  app->set_version_flag("--version", text.name + " " TARNWICK_VERSION, "show the version and exit");
  return app;
}

Parsed Refused(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return {Outcome::Error, std::move(text)};
}

Parsed Parse(CLI::App& app, const std::vector<std::string>& arguments) {
  std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());  // as CLI11 takes them
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    return {Outcome::Help, {}};
  } catch (const CLI::CallForVersion&) {
    return {Outcome::Version, {}};
  } catch (const CLI::ParseError& error) {
    return Refused(error.what());
  }
  // CLI11 hands on as a positional what it cannot read as an option ("-",
  // "-\n"); none of these programs takes such a name unless after "--".
  const auto endOfOptions = std::find(arguments.begin(), arguments.end(), "--");
  for (const CLI::Option* positional : app.get_options([](const CLI::Option* o) { return o->get_positional(); })) {
    for (const std::string& value : positional->results()) {
      if (value.size() > 1 && value[0] == '-' && std::find(arguments.begin(), endOfOptions, value) != endOfOptions) {
        return Refused("unknown option " + value);
      }
    }
  }
  return {};
}

std::optional<int> Answer(const Parsed& parsed, const std::string& name, const std::string& help, int usageStatus) {
  switch (parsed.outcome) {
    case Outcome::Run:
      return std::nullopt;
    case Outcome::Help:
      std::cout << help << std::flush;
      return 0;
    case Outcome::Version:
      std::cout << name << " " TARNWICK_VERSION << std::endl;
      return 0;
    case Outcome::Error:
      break;
  }
  std::cerr << name << ": " << parsed.error << "\n" << help << std::flush;
  return usageStatus;
}

std::vector<std::string> ArgumentsOf(int argc, char* argv[]) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
  return arguments;
}

}  // namespace tarnwick::options
