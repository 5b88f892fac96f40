// tarnwick-demo: the programming dialog without a display. It loads an image
// through the dialog's own Load File path, presses Program, prints every
// status text and message box as it appears, and exits 0 only when the run
// ended with the success message.
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "command_line.h"
#include "port_map.h"
#include "posix_serial_port.h"
#include "programmer_app.h"
#include "run_machine.h"

namespace {

using tarnwick::ui::CProgrammerDlg;

const char* IconName(QMessageBox::Icon icon) {
  switch (icon) {
    case QMessageBox::Information:
      return "information";
    case QMessageBox::Warning:
      return "exclamation";
    case QMessageBox::Critical:
      return "stop";
    default:
      return "other";
  }
}

// Without a display Qt notes what the offscreen platform cannot do (size
// hints, a runtime folder of its own); none of it concerns the run, and it
// would only clutter what the demo prints.
QtMessageHandler defaultMessageHandler = nullptr;
void HideOffscreenNotes(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type == QtWarningMsg && (message.startsWith(QLatin1String("This plugin does not support")) ||
                               message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set")))) {
    return;
  }
  defaultMessageHandler(type, context, message);
}

// Drives one dialog through a run and reports what it shows.
class DemoDriver {
 public:
  DemoDriver(CProgrammerDlg& dialog, const QString& imagePath, int timeoutSeconds)
      : dialog_(dialog), imagePath_(imagePath) {
    dialog.setFileChooser([this](QWidget*) { return imagePath_; });
    QObject::connect(&dialog, &CProgrammerDlg::statusTextChanged, &dialog,
                     [this](const QString& text) { Print("status", text); });
    QObject::connect(&dialog, &CProgrammerDlg::messageBoxAboutToShow, &dialog,
                     [this](QMessageBox* box) { OnMessageBox(box); });
    QTimer::singleShot(0, &dialog, [this] { Start(); });
    QTimer::singleShot(timeoutSeconds * 1000, &dialog, [this, timeoutSeconds] {
      std::printf("timed out after %d s\n", timeoutSeconds);
      Finish(tarnwick::RunOutcome::Stalled);
    });
    clock_.start();
  }

  // How the run ended; None while it goes on.
  tarnwick::RunOutcome outcome() const { return outcome_; }

 private:
  void Print(const char* what, const QString& text) {
    std::printf("%7.1f s  tick %4d  %s \"%s\"\n", static_cast<double>(clock_.elapsed()) / 1000.0, dialog_.tickCount(), what,
                qPrintable(text));
    std::fflush(stdout);
  }

  void Start() {
    Print("status", QStringLiteral("Idle"));
    auto* load = qobject_cast<QPushButton*>(dialog_.control(tarnwick::IdLoadFile));
    auto* program = qobject_cast<QPushButton*>(dialog_.control(tarnwick::IdProgram));
    load->click();
    if (!program->isEnabled()) {
      std::printf("the image could not be loaded\n");
      Finish(tarnwick::RunOutcome::Interrupted);
      return;
    }
    std::printf("loaded %s (%u bytes)\n", qPrintable(imagePath_), dialog_.engine().state().imageLength);
    program->click();
  }

  void OnMessageBox(QMessageBox* box) {
    const QString text = box->text();
    Print(IconName(box->icon()), text);
    // The box closes as soon as its modal loop runs; the run goes on meanwhile.
    QTimer::singleShot(0, box, &QMessageBox::accept);
    const tarnwick::RunOutcome outcome = dialog_.engine().lastOutcome();
    if (outcome == tarnwick::RunOutcome::NoDevice) {
      // The program ends by itself once the box has gone.
      if (outcome_ == tarnwick::RunOutcome::None) outcome_ = outcome;
    } else if (outcome != tarnwick::RunOutcome::None) {
      Finish(outcome);  // the run is over; the dialog stays open
    }
  }

  // Leaves through Exit (so the port is closed) once the box has gone.
  void Finish(tarnwick::RunOutcome outcome) {
    if (outcome_ == tarnwick::RunOutcome::None) outcome_ = outcome;
    QTimer::singleShot(0, &dialog_, &QDialog::reject);
  }

  CProgrammerDlg& dialog_;
  QString imagePath_;
  QElapsedTimer clock_;
  tarnwick::RunOutcome outcome_ = tarnwick::RunOutcome::None;
};

}  // namespace

int main(int argc, char* argv[]) {
  using namespace tarnwick;
  PortMap ports = PortMap::Discover();
  ui::DemoOptions options;
  const tarnwick::options::Parsed parsed =
      ui::ParseDemoArguments(tarnwick::options::ArgumentsOf(argc, argv), ports, options);
  if (const auto status = tarnwick::options::Answer(parsed, "tarnwick-demo", ui::DemoUsage())) return *status;
  for (std::size_t i = 0; i < ports.devices.size(); ++i) {
    std::printf("COM%zu = %s\n", i + 1, ports.devices[i].empty() ? "(none)" : ports.devices[i].c_str());
  }

  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  defaultMessageHandler = qInstallMessageHandler(HideOffscreenNotes);
  QApplication application(argc, argv);

  PosixSerialPort port(ports);
  ui::CProgrammerApp programmer(port);
  std::unique_ptr<DemoDriver> driver;
  const int result = programmer.InitInstance([&](ui::CProgrammerDlg& dialog) {
    driver = std::make_unique<DemoDriver>(dialog, QString::fromLocal8Bit(options.imagePath.c_str()),
                                          options.timeoutSeconds);
  });
  if (result == -1) std::printf("the program ended itself\n");
  const bool succeeded = driver && driver->outcome() == RunOutcome::Success;
  std::printf("%s\n", succeeded ? "programming succeeded" : "programming did not succeed");
  return succeeded ? 0 : 1;
}
