// tarnwick: the desktop program.
#include <QApplication>
#include <cstdio>
#include <string>

#include "app_icon.h"
#include "command_line.h"
#include "port_map.h"
#include "posix_serial_port.h"
#include "programmer_app.h"

int main(int argc, char* argv[]) {
  using namespace tarnwick;
  // Read before the toolkit starts, so that a wrong argument needs no display.
  PortMap ports = PortMap::Discover();
  std::string error;
  if (!ports.ApplyArguments(ui::ArgumentsOf(argc, argv), error)) {
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
