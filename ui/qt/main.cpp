// tarnwick: the desktop program.
#include <QApplication>

#include "app_icon.h"
#include "command_line.h"
#include "port_map.h"
#include "posix_serial_port.h"
#include "programmer_app.h"

int main(int argc, char* argv[]) {
  using namespace tarnwick;
  // Read before the toolkit starts, so that a wrong argument needs no display.
  PortMap ports = PortMap::Discover();
  const options::Parsed parsed = ui::ParseProgramArguments(options::ArgumentsOf(argc, argv), ports);
  if (const auto status = options::Answer(parsed, "tarnwick", ui::ProgramUsage())) return *status;

  QApplication application(argc, argv);
  QApplication::setWindowIcon(ui::ApplicationIcon());
  QGuiApplication::setDesktopFileName(QStringLiteral("tarnwick"));

  PosixSerialPort port(ports);
  ui::CProgrammerApp programmer(port);
  programmer.InitInstance();
  return 0;
}
