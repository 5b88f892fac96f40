// The About box, laid out from template 100: the icon, the version, the notice
// and OK.
#pragma once

#include <QDialog>
#include <QPoint>
#include <QRect>
#include <QSize>

namespace tarnwick::ui {

// Where a box of client size `size` goes so that its window, frame and all,
// is centred over its owner's: the top-left corner of its frame.
QPoint CentredFramePosition(const QRect& ownerFrame, const QRect& ownerClient, const QSize& size);

class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  // Centred over `parent`, which it keeps disabled while it runs.
  explicit CAboutDlg(QWidget* parent = nullptr);

 protected:
  void showEvent(QShowEvent* event) override;
};

}  // namespace tarnwick::ui
