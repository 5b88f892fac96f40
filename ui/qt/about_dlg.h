// The About box, laid out from template 100: the icon, the version, the notice
// and OK.
#pragma once

#include <QDialog>

namespace tarnwick::ui {

class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  // Centred over `parent`, which it keeps disabled while it runs.
  explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace tarnwick::ui
