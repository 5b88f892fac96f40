// The command lines of tarnwick and tarnwick-demo. Both take "COMn=DEVICE"
// arguments, which point the operator's port names at devices; both are read
// before the toolkit starts, so that --help, --version and a wrong argument
// need no display.
#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <string>
#include <vector>

#include "port_map.h"
#include "program_options.h"

namespace tarnwick::ui {

// tarnwick [COMn=DEVICE]...: the mappings go to PortMap::ApplyArguments,
// which leaves `ports` as it was when it refuses one.
std::unique_ptr<CLI::App> MakeProgramApp(std::vector<std::string>& mappings);
options::Parsed ParseProgramArguments(const std::vector<std::string>& arguments, PortMap& ports);
std::string ProgramUsage();

struct DemoOptions {
  std::string imagePath;
  int timeoutSeconds = 600;
};

// tarnwick-demo [--timeout SECONDS] [COMn=DEVICE]... IMAGE
std::unique_ptr<CLI::App> MakeDemoApp(DemoOptions& options, std::vector<std::string>& rest);
options::Parsed ParseDemoArguments(const std::vector<std::string>& arguments, PortMap& ports, DemoOptions& options);
std::string DemoUsage();

}  // namespace tarnwick::ui
