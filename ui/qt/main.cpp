// tarnwick: the desktop program.
#include <QApplication>
#include <cstdio>
#include <string>
#include <vector>

#include "app_icon.h"
#include "command_line.h"
#include "port_map.h"
#include "posix_serial_port.h"
#include "programmer_app.h"

int main(int argc, char* argv[]) {
  using namespace tarnwick;
  // Read before the toolkit starts, so that a wrong argument needs no display.
  const std::vector<std::string> arguments = ui::ArgumentsOf(argc, argv);
  switch (ui::InfoRequested(arguments)) {
    case ui::InfoRequest::Help:
      std::fputs(ui::ProgramUsage().c_str(), stdout);
      return 0;
    case ui::InfoRequest::Version:
      std::fputs("tarnwick " TARNWICK_VERSION "\n", stdout);
      return 0;
    case ui::InfoRequest::None:
      break;
  }
  PortMap ports = PortMap::Discover();
  std::string error;
  if (!ports.ApplyArguments(arguments, error)) {
    std::fprintf(stderr, "tarnwick: %s\n%s", error.c_str(), ui::ProgramUsage().c_str());
    return 2;
  }

  QApplication application(argc, argv);
  QApplication::setWindowIcon(ui::ApplicationIcon());
  QGuiApplication::setDesktopFileName(QStringLiteral("tarnwick"));

  PosixSerialPort port(ports);
  ui::CProgrammerApp programmer(port);
  programmer.InitInstance();
  return 0;
}
