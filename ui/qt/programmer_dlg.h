// The main dialog: laid out from template 102, it owns the programming engine,
// turns button clicks and timer ticks into engine calls, and carries out the
// window operations the engine asks for.
#pragma once

#include <QDialog>
#include <QString>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "posix_image_file.h"
#include "run_machine.h"
#include "serial_port.h"
#include "window_ops.h"

class QLabel;
class QLineEdit;
class QMessageBox;
class QProgressBar;
class QPushButton;

namespace tarnwick::ui {

class CProgrammerDlg : public QDialog, public WindowOps {
  Q_OBJECT

 public:
  // Picks the image file for Load File; an empty result means the operator cancelled.
  using FileChooser = std::function<QString(QWidget* parent)>;

  explicit CProgrammerDlg(SerialPort& port, QWidget* parent = nullptr);
  ~CProgrammerDlg() override;

  ProgrammerEngine& engine() { return engine_; }

  // The widget of a control by its template ID; nullptr for none.
  QWidget* control(int id) const;
  // The controls in template order, which is also the tab order.
  const std::vector<QWidget*>& controlsInTemplateOrder() const { return controls_; }

  void setFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }

  // A detail for the status line's tooltip with what the operator can do
  // about it added; unset, details show as the engine gives them.
  using DetailAdvice = std::function<std::string(const std::string& detail)>;
  void setDetailAdvice(DetailAdvice advice) { adviseOn_ = std::move(advice); }

  // Timer ticks handled so far, the one being handled included.
  int tickCount() const { return tickCount_; }

  // The window operations of the engine.
  void SetStatusText(const char* text) override;
  void SetStatusDetail(const char* detail) override;
  void SetReadout(int controlId, std::uint32_t value) override;
  void EnableControl(int controlId, bool enabled) override;
  void SetProgressRange(std::uint32_t maximum) override;
  void SetProgressPosition(std::uint32_t position) override;
  bool StartTimer() override;
  void KillTimer() override;
  void ShowMessage(const char* text, MessageIcon icon) override;
  void DestroyMainWindow() override;

  // The caption of every message box: the executable's name without its extension.
  static QString MessageCaption();

 signals:
  void statusTextChanged(const QString& text);
  // A message box is about to run; a receiver may note it and close it later.
  void messageBoxAboutToShow(QMessageBox* box);
  // One timer tick has been handled.
  void ticked();

 public slots:
  void OnLoadFile();
  void OnProgram();
  void OnStop();
  void OnAbout();
  void done(int result) override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void BuildControls();
  void OnTick();
  void ShowAboutMenu(const QPoint& globalPosition, bool fromKeyboard);

  PosixImageFile imageFile_;
  ProgrammerEngine engine_;
  std::vector<QWidget*> controls_;
  QPushButton* exitButton_ = nullptr;
  QPushButton* loadButton_ = nullptr;
  QPushButton* programButton_ = nullptr;
  QPushButton* stopButton_ = nullptr;
  QLineEdit* lengthReadout_ = nullptr;
  QLineEdit* sentReadout_ = nullptr;
  QLabel* status_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QTimer timer_;
  int tickCount_ = 0;
  // Ticks being handled, counting nested ones.
  int tickDepth_ = 0;
  // The range of the progress bar is that of an empty image.
  bool progressEmpty_ = false;
  // The focused control was disabled and took the focus with it.
  bool focusGone_ = false;
  FileChooser chooseFile_;
  DetailAdvice adviseOn_;
};

}  // namespace tarnwick::ui
