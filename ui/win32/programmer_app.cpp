#include "programmer_app.h"

#include <commctrl.h>

#include <memory>

#include "programmer_dlg.h"

namespace tarnwick::win32 {

BOOL CProgrammerApp::InitInstance(HINSTANCE instance, const std::array<std::string, 4>& ports) {
  // The window classes of the progress bar and the status line's tooltip.
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
  ::InitCommonControlsEx(&controls);

  // The dialog holds the run's record with its image buffers inline; it lives
  // exactly as long as the modal run.
  auto dialog = std::make_unique<CProgrammerDlg>(instance);
  for (std::size_t i = 0; i < ports.size(); ++i) dialog->MapPort(i, ports[i].c_str());
  const INT_PTR result = dialog->DoModal();
  if (result == IDCANCEL) dialog->CloseSerialPort();
  // IDOK leaves the port as it is, and so does -1 (the window was destroyed
  // after a failure): the system releases it when the process ends.
  return FALSE;
}

}  // namespace tarnwick::win32
