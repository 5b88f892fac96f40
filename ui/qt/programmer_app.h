// The application's start-up and shutdown: the whole life of the program is
// one modal run of the main dialog.
#pragma once

#include <functional>
#include <utility>

#include "posix_serial_port.h"
#include "programmer_dlg.h"
#include "serial_port.h"

namespace tarnwick::ui {

class CProgrammerApp {
 public:
  explicit CProgrammerApp(SerialPort& port, CProgrammerDlg::DetailAdvice advice = {})
      : port_(port), advice_(std::move(advice)) {}
  // The system's own port: a refusal for lack of permission shows with the
  // group to join.
  explicit CProgrammerApp(PosixSerialPort& port);

  // Creates the main dialog, lets `prepare` set it up (a front end without a
  // display does), runs it modally and returns how it ended: QDialog::Rejected
  // for Exit, Esc or the close box, after which the port is closed;
  // QDialog::Accepted for Enter, or -1 when the engine ended the program.
  // Either of the last two leaves the port to the operating system.
  int InitInstance(const std::function<void(CProgrammerDlg&)>& prepare = {});

 private:
  SerialPort& port_;
  CProgrammerDlg::DetailAdvice advice_;
};

}  // namespace tarnwick::ui
