// The application's start-up and shutdown: the whole life of the program is
// one modal run of the main dialog.
#pragma once

#include <functional>

#include "programmer_dlg.h"
#include "serial_port.h"

namespace tarnwick::ui {

class CProgrammerApp {
 public:
  explicit CProgrammerApp(SerialPort& port) : port_(port) {}

  // Creates the main dialog, lets `prepare` set it up (a front end without a
  // display does), runs it modally and returns how it ended: QDialog::Rejected
  // for Exit, Esc or the close box, after which the port is closed;
  // QDialog::Accepted for Enter, or -1 when the engine ended the program.
  // Either of the last two leaves the port to the operating system.
  int InitInstance(const std::function<void(CProgrammerDlg&)>& prepare = {});

 private:
  SerialPort& port_;
};

}  // namespace tarnwick::ui
