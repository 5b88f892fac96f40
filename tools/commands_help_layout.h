// The layout of "tarnwick-cli --help-all": each command under a heading line
// of its own ("tarnwick-cli program [OPTIONS] [PORT]... IMAGE.UPL:") with its
// description, arguments and options indented below, so that the page reads
// well on a terminal and the manual page generated from it gets a
// sub-section for each command.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

namespace tarnwick::options {

class CommandsHelpLayout : public CLI::Formatter {
 public:
  std::string make_subcommands(const CLI::App* app, CLI::AppFormatMode mode) const override;
  std::string make_expanded(const CLI::App* command) const override;
};

}  // namespace tarnwick::options
