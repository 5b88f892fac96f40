#include "programmer_app.h"

namespace tarnwick::ui {

int CProgrammerApp::InitInstance(const std::function<void(CProgrammerDlg&)>& prepare) {
  // The dialog holds the run's record with its 64 KiB image; it lives exactly
  // as long as the modal run.
  CProgrammerDlg dialog(port_);
  if (prepare) prepare(dialog);
  const int result = dialog.exec();
  if (result == QDialog::Rejected) dialog.engine().OnExit();
  return result;
}

}  // namespace tarnwick::ui
