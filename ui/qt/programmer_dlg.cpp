#include "programmer_dlg.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <cstdio>
#include <memory>

#include "about_dlg.h"
#include "app_icon.h"
#include "dialog_template.h"
#include "dialog_units.h"

namespace tarnwick::ui {
namespace {

// The widget property that carries a control's template ID.
constexpr const char* kControlIdProperty = "controlId";

QString DefaultFileChooser(QWidget* parent) {
  QFileDialog dialog(parent, QStringLiteral("Open"), QDir::currentPath(), QStringLiteral("*.UPL"));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  // A typed name of a file that does not exist is taken, and the load reports it.
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix(QStringLiteral("UPL"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().constFirst();
}

QMessageBox::Icon BoxIcon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Exclamation:
      return QMessageBox::Warning;
    case MessageIcon::Information:
      return QMessageBox::Information;
    case MessageIcon::Stop:
      return QMessageBox::Critical;
  }
  return QMessageBox::Warning;
}

}  // namespace

CProgrammerDlg::CProgrammerDlg(SerialPort& port, QWidget* parent)
    : QDialog(parent), engine_(port, *this, imageFile_), chooseFile_(DefaultFileChooser) {
  setObjectName(QStringLiteral("programmerDialog"));
  setWindowTitle(QString::fromLatin1(kMainDialog.title));
  // A captioned window with a close box and a system menu, no minimize or maximize box.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setWindowIcon(ApplicationIcon());
  setFont(TemplateFont(kMainDialog));
  setFixedSize(ClientSize(kMainDialog, BaseUnitsOf(font())));
  BuildControls();

  timer_.setTimerType(Qt::PreciseTimer);
  timer_.setInterval(static_cast<int>(kTimerPeriodMs));
  connect(&timer_, &QTimer::timeout, this, &CProgrammerDlg::OnTick);

  // Focus given to any control ends the time without one.
  connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
    if (now != nullptr) focusGone_ = false;
  });

  engine_.OnInitDialog();
}

CProgrammerDlg::~CProgrammerDlg() { timer_.stop(); }

void CProgrammerDlg::BuildControls() {
  const DialogBaseUnits base = BaseUnitsOf(font());
  for (const DialogControl& control : kMainDialog.controls) {
    const QString text = QString::fromLatin1(control.text);
    QWidget* widget = nullptr;
    switch (control.kind) {
      case ControlKind::PushButton:
      case ControlKind::DefaultPushButton: {
        auto* button = new QPushButton(text, this);
        // No default button: Enter works on the focused button (see keyPressEvent).
        button->setAutoDefault(false);
        button->setDefault(false);
        widget = button;
        break;
      }
      case ControlKind::Edit: {
        auto* edit = new QLineEdit(text, this);
        edit->setReadOnly(true);
        edit->setFrame((control.styles & StyleBorder) != 0);
        widget = edit;
        break;
      }
      case ControlKind::StaticText: {
        auto* label = new QLabel(text, this);
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setWordWrap(true);
        widget = label;
        break;
      }
      case ControlKind::ProgressBar: {
        auto* bar = new QProgressBar(this);
        bar->setRange(0, 100);  // the platform's default range until the first block
        bar->setValue(0);
        bar->setTextVisible(false);
        widget = bar;
        break;
      }
      case ControlKind::StaticIcon:
        widget = new QLabel(this);
        break;
    }
    widget->setGeometry(ControlRect(control, base));
    widget->setProperty(kControlIdProperty, control.id);
    widget->setFocusPolicy((control.styles & StyleTabStop) != 0 ? Qt::StrongFocus : Qt::NoFocus);
    if ((control.styles & StyleDisabled) != 0) widget->setEnabled(false);
    controls_.push_back(widget);
  }
  for (std::size_t i = 1; i < controls_.size(); ++i) setTabOrder(controls_[i - 1], controls_[i]);

  exitButton_ = qobject_cast<QPushButton*>(control(IdExit));
  loadButton_ = qobject_cast<QPushButton*>(control(IdLoadFile));
  programButton_ = qobject_cast<QPushButton*>(control(IdProgram));
  stopButton_ = qobject_cast<QPushButton*>(control(IdStop));
  lengthReadout_ = qobject_cast<QLineEdit*>(control(IdImageLength));
  sentReadout_ = qobject_cast<QLineEdit*>(control(IdBytesSent));
  status_ = qobject_cast<QLabel*>(control(IdStatus));
  progress_ = qobject_cast<QProgressBar*>(control(IdProgress));

  connect(exitButton_, &QPushButton::clicked, this, &QDialog::reject);
  connect(loadButton_, &QPushButton::clicked, this, &CProgrammerDlg::OnLoadFile);
  connect(programButton_, &QPushButton::clicked, this, &CProgrammerDlg::OnProgram);
  connect(stopButton_, &QPushButton::clicked, this, &CProgrammerDlg::OnStop);
}

QWidget* CProgrammerDlg::control(int id) const {
  if (id == kStaticId) return nullptr;
  for (QWidget* widget : controls_) {
    if (widget->property(kControlIdProperty).toInt() == id) return widget;
  }
  return nullptr;
}

QString CProgrammerDlg::MessageCaption() {
  return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

// --- Buttons, ticks and the end of the dialog -------------------------------

void CProgrammerDlg::OnLoadFile() {
  engine_.OnLoadFileStarted();
  const QString path = chooseFile_ ? chooseFile_(this) : QString();
  if (path.isEmpty()) return;
  engine_.LoadFile(QFile::encodeName(path).toStdString());
}

void CProgrammerDlg::OnProgram() { engine_.OnProgram(); }

void CProgrammerDlg::OnStop() { engine_.OnStop(); }

void CProgrammerDlg::OnAbout() {
  CAboutDlg about(this);
  about.exec();
}

void CProgrammerDlg::OnTick() {
  ++tickDepth_;
  ++tickCount_;
  engine_.OnTimer();
  emit ticked();
  --tickDepth_;
}

void CProgrammerDlg::done(int result) {
  // The run's timer ends with the window.
  timer_.stop();
  QDialog::done(result);
}

void CProgrammerDlg::keyPressEvent(QKeyEvent* event) {
  const Qt::KeyboardModifiers modifiers = event->modifiers();
  const int key = event->key();
  const bool enter = (key == Qt::Key_Return && modifiers == Qt::NoModifier) ||
                     (key == Qt::Key_Enter && (modifiers == Qt::KeypadModifier || modifiers == Qt::NoModifier));
  if (enter) {
    if (focusGone_ && focusWidget() == nullptr) return;
    // The focused push button is pressed; with no push button focused, Enter means OK.
    if (auto* button = qobject_cast<QPushButton*>(focusWidget()); button != nullptr && button->isVisible()) {
      if (button->isEnabled()) button->click();
    } else {
      accept();
    }
    return;
  }
  if ((key == Qt::Key_Menu && modifiers == Qt::NoModifier) || (key == Qt::Key_F10 && modifiers == Qt::ShiftModifier)) {
    QWidget* anchor = focusWidget() != nullptr ? focusWidget() : this;
    ShowAboutMenu(anchor->mapToGlobal(anchor->rect().center()), true);
    return;
  }
  QDialog::keyPressEvent(event);
}

// The window manager offers no system menu that a program may extend, so the
// About item lives in the dialog's context menu.
void CProgrammerDlg::contextMenuEvent(QContextMenuEvent* event) {
  ShowAboutMenu(event->globalPos(), event->reason() == QContextMenuEvent::Keyboard);
  event->accept();
}

void CProgrammerDlg::ShowAboutMenu(const QPoint& globalPosition, bool fromKeyboard) {
  QMenu menu(this);
  QAction* about = menu.addAction(QString::fromLatin1(kAboutMenuText));
  // Opened from the keyboard, the item is selected so that Enter chooses it.
  if (fromKeyboard) menu.setActiveAction(about);
  if (menu.exec(globalPosition) == about) OnAbout();
}

// --- Window operations for the engine --------------------------------------

void CProgrammerDlg::SetStatusText(const char* text) {
  const QString line = QString::fromLatin1(text);
  status_->setText(line);
  status_->setToolTip(QString());
  emit statusTextChanged(line);
}

void CProgrammerDlg::SetStatusDetail(const char* detail) {
  if (detail == nullptr || *detail == '\0') return;
  const std::string explained = adviseOn_ ? adviseOn_(detail) : std::string(detail);
  status_->setToolTip(QString::fromLocal8Bit(explained.c_str()));
  std::fprintf(stderr, "%s: %s: %s\n", qPrintable(MessageCaption()), qPrintable(status_->text()),
               explained.c_str());
}

void CProgrammerDlg::SetReadout(int controlId, std::uint32_t value) {
  if (auto* readout = qobject_cast<QLineEdit*>(control(controlId))) readout->setText(QString::number(value));
}

void CProgrammerDlg::EnableControl(int controlId, bool enabled) {
  QWidget* widget = control(controlId);
  if (widget == nullptr) return;
  const bool hadFocus = !enabled && widget->hasFocus();
  widget->setEnabled(enabled);
  if (hadFocus) {
    // Qt hands the focus of a control that is disabled on to the next one
    // (Program to Exit), where a second Enter would end the program. Here the
    // focus goes with the control: no control has it, and Enter does nothing
    // until the operator gives it to one.
    if (QWidget* next = focusWidget()) next->clearFocus();
    focusGone_ = true;
  }
}

void CProgrammerDlg::SetProgressRange(std::uint32_t maximum) {
  // A range of 0 to 0 is Qt's busy indicator, which never stops moving. An
  // empty image is wholly sent with its one empty block: its bar stands full.
  progressEmpty_ = maximum == 0;
  progress_->setRange(0, progressEmpty_ ? 1 : static_cast<int>(maximum));
}

void CProgrammerDlg::SetProgressPosition(std::uint32_t position) {
  progress_->setValue(progressEmpty_ ? progress_->maximum() : static_cast<int>(position));
}

bool CProgrammerDlg::StartTimer() {
  timer_.start();
  return timer_.isActive();
}

void CProgrammerDlg::KillTimer() { timer_.stop(); }

void CProgrammerDlg::ShowMessage(const char* text, MessageIcon icon) {
  // A box opened from a tick while another modal window is open over the
  // dialog (the About box, the file chooser) goes over that window: parented
  // to the dialog, the window manager may stack it under the other one, which
  // then no longer takes input while the box waits unseen.
  QWidget* owner = this;
  if (QWidget* modal = QApplication::activeModalWidget(); modal != nullptr && modal->isVisible()) {
    for (QWidget* up = modal; up != nullptr; up = up->parentWidget()) {
      if (up == this) owner = modal;
    }
  }
  QMessageBox box(BoxIcon(icon), MessageCaption(), QString::fromLatin1(text), QMessageBox::Ok, owner);
  box.setTextFormat(Qt::PlainText);

  // A timer is not called again while its own handler still runs, so a box
  // opened from a tick would hold up every tick until it closes. Such a box
  // gets a timer of its own that goes on ticking while the run's timer is on.
  std::unique_ptr<QTimer> relay;
  if (tickDepth_ > 0) {
    relay = std::make_unique<QTimer>();
    relay->setTimerType(Qt::PreciseTimer);
    relay->setInterval(static_cast<int>(kTimerPeriodMs));
    connect(relay.get(), &QTimer::timeout, this, [this] {
      if (timer_.isActive()) OnTick();
    });
    relay->start();
  }
  emit messageBoxAboutToShow(&box);
  box.exec();
}

void CProgrammerDlg::DestroyMainWindow() { done(-1); }

}  // namespace tarnwick::ui
