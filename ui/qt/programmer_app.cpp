#include "programmer_app.h"

#include "permission_hint.h"

namespace tarnwick::ui {

CProgrammerApp::CProgrammerApp(PosixSerialPort& port)
    : CProgrammerApp(port, [&port](const std::string& detail) { return WithPermissionHint(port, detail); }) {}

int CProgrammerApp::InitInstance(const std::function<void(CProgrammerDlg&)>& prepare) {
  // The dialog holds the run's record with its 64 KiB image; it lives exactly
  // as long as the modal run.
  CProgrammerDlg dialog(port_);
  dialog.setDetailAdvice(advice_);
  if (prepare) prepare(dialog);
  const int result = dialog.exec();
  if (result == QDialog::Rejected) dialog.engine().OnExit();
  return result;
}

}  // namespace tarnwick::ui
