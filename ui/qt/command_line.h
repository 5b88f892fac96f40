// The command lines of tarnwick and tarnwick-demo. Both take "COMn=DEVICE"
// arguments, which point the operator's port names at devices.
#pragma once

#include <string>
#include <vector>

#include "port_map.h"

namespace tarnwick::ui {

// tarnwick [COMn=DEVICE]...: the mappings go to PortMap::ApplyArguments.
std::string ProgramUsage();

struct DemoOptions {
  std::string imagePath;
  int timeoutSeconds = 600;
};

// tarnwick-demo [--timeout SECONDS] [COMn=DEVICE]... IMAGE
bool ParseDemoArguments(const std::vector<std::string>& arguments, PortMap& ports, DemoOptions& options,
                        std::string& error);
std::string DemoUsage();

// What an argument list asks for instead of a run: --help (or -h) before
// --version, wherever either stands.
enum class InfoRequest { None, Help, Version };
InfoRequest InfoRequested(const std::vector<std::string>& arguments);

// argv without the program name.
std::vector<std::string> ArgumentsOf(int argc, char* argv[]);

}  // namespace tarnwick::ui
