#include "commands_help_layout.h"

#include <sstream>

namespace tarnwick::options {
namespace {

constexpr std::size_t kNameColumn = 30;

// "  NAME   description", the description in its column or on the next line.
std::string Entry(const std::string& name, const std::string& description) {
  std::string line = "  " + name;
  if (line.size() + 2 > kNameColumn) {
    line += "\n";
    line.append(kNameColumn, ' ');
  } else {
    line.append(kNameColumn - line.size(), ' ');
  }
  return line + description + "\n";
}

// Drops the group headings ("Options:") that CLI11 puts above each group:
// under a command's heading every line is one of its own.
std::string WithoutGroupHeadings(const std::string& text) {
  std::istringstream in(text);
  std::string out, line;
  while (std::getline(in, line)) {
    if (line.empty() || (line.front() != ' ' && line.back() == ':')) continue;
    out += line + "\n";
  }
  return out;
}

bool IsShownPositional(const CLI::Option* option) { return option->get_positional() && !option->get_group().empty(); }

}  // namespace

std::string CommandsHelpLayout::make_subcommands(const CLI::App* app, CLI::AppFormatMode mode) const {
  if (mode != CLI::AppFormatMode::All) return CLI::Formatter::make_subcommands(app, mode);
  std::string out;
  for (const CLI::App* command : app->get_subcommands({})) out += "\n" + make_expanded(command);
  return out;
}

std::string CommandsHelpLayout::make_expanded(const CLI::App* command) const {
  const std::vector<const CLI::Option*> positionals = command->get_options(IsShownPositional);
  std::string heading = command->get_parent()->get_name() + " " + command->get_name() + " [OPTIONS]";
  std::string arguments;
  for (const CLI::Option* positional : positionals) {
    heading += " " + positional->get_type_name();
    arguments += Entry(positional->get_type_name(), positional->get_description());
  }
  // The blank line keeps the description a paragraph of its own.
  return heading + ":\n  " + command->get_description() + "\n\n" + arguments +
         WithoutGroupHeadings(make_groups(command, CLI::AppFormatMode::Sub));
}

}  // namespace tarnwick::options
