// Programming runs through the dialog's buttons, against the simulated device
// on a pseudo-terminal: what the operator sees, Stop, ticks during modal
// boxes, load errors, and how the application ends.
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include "about_dlg.h"
#include "device_process.h"
#include "image_file.h"
#include "port_map.h"
#include "posix_serial_port.h"
#include "programmer_app.h"
#include "programmer_dlg.h"
#include "temp_dir.h"

using namespace tarnwick;
using namespace tarnwick::testing;
using namespace tarnwick::ui;

namespace {

// The real port, with a count of the closes asked of it.
class CountingPort final : public SerialPort {
 public:
  explicit CountingPort(PortMap map) : port_(std::move(map)) {}
  bool Open(const char* name) override { return port_.Open(name); }
  bool Configure() override { return port_.Configure(); }
  std::ptrdiff_t Write(const std::uint8_t* data, std::size_t length) override { return port_.Write(data, length); }
  std::size_t BytesWaiting() override { return port_.BytesWaiting(); }
  std::size_t Read(std::uint8_t* out, std::size_t count) override { return port_.Read(out, count); }
  void Close() override {
    ++closes;
    port_.Close();
  }
  const char* LastError() const override { return port_.LastError(); }
  int closes = 0;

 private:
  PosixSerialPort port_;
};

struct ShownBox {
  QString text;
  QMessageBox::Icon icon;
  QString caption;
  int ticksWhileOpen;
};

// Notes every status text and message box of a dialog; closes each box after
// `holdMs`, counting the ticks that went on meanwhile.
class DialogRecorder {
 public:
  DialogRecorder(CProgrammerDlg& dialog, int holdMs = 0) : dialog_(dialog), holdMs_(holdMs) {
    QObject::connect(&dialog, &CProgrammerDlg::statusTextChanged, &dialog,
                     [this](const QString& text) { statuses.append(text); });
    QObject::connect(&dialog, &CProgrammerDlg::messageBoxAboutToShow, &dialog, [this](QMessageBox* box) {
      const int ticksAtOpen = dialog_.tickCount();
      QTimer::singleShot(holdMs_, box, [this, box, ticksAtOpen] {
        boxes.append({box->text(), box->icon(), box->windowTitle(), dialog_.tickCount() - ticksAtOpen});
        box->accept();
        if (afterBox) afterBox();
      });
    });
  }

  QString status() const { return qobject_cast<QLabel*>(dialog_.control(IdStatus))->text(); }
  QString readout(int id) const { return qobject_cast<QLineEdit*>(dialog_.control(id))->text(); }
  QPushButton* button(int id) const { return qobject_cast<QPushButton*>(dialog_.control(id)); }

  QStringList statuses;
  QList<ShownBox> boxes;
  std::function<void()> afterBox;

 private:
  CProgrammerDlg& dialog_;
  int holdMs_;
};

constexpr const char* kDeviceTool = TARNWICK_DEVICE_EXE;

QString Path(DeviceProcess& device) { return QString::fromStdString(device.serialPath()); }

PortMap Ports(const QString& com1, const QString& com2, const QString& com3, const QString& com4) {
  PortMap map;
  map.devices = {com1.toStdString(), com2.toStdString(), com3.toStdString(), com4.toStdString()};
  return map;
}

}  // namespace

class ProgrammingRunTest : public QObject {
  Q_OBJECT

 private slots:
  void wholeRunThroughTheButtons() {
    const std::vector<std::uint8_t> raw = RandomBytes(1000, 7);
    WriteBytes(dir_.File("raw.bin"), raw);
    const QString image = WriteImageFile(dir_, "SAMPLE.UPL", raw);
    DeviceProcess device(kDeviceTool, {"--baud", "4800", "--runs", "1", "--expect", dir_.File("raw.bin")});
    QVERIFY(!device.serialPath().empty());

    PosixSerialPort port(Ports(Missing(1), Missing(2), Path(device), Missing(4)));
    CProgrammerDlg dialog(port);
    DialogRecorder seen(dialog);
    dialog.setFileChooser([&](QWidget*) { return image; });
    dialog.show();

    seen.button(IdLoadFile)->click();
    QCOMPARE(seen.readout(IdImageLength), QStringLiteral("1000"));
    QVERIFY(seen.button(IdProgram)->isEnabled());
    seen.button(IdProgram)->click();
    QVERIFY(!seen.button(IdProgram)->isEnabled());
    QVERIFY(seen.button(IdStop)->isEnabled());

    QTRY_COMPARE_WITH_TIMEOUT(seen.boxes.size(), 1, 30000);
    QCOMPARE(seen.boxes[0].text, QStringLiteral("   Programming Device Succeed!   "));
    QCOMPARE(seen.boxes[0].icon, QMessageBox::Information);
    QCOMPARE(seen.boxes[0].caption, QStringLiteral("programming_run_test"));

    // The scan, then the transfer, in the order the operator saw them.
    QCOMPARE(seen.statuses.mid(0, 3), QStringList({"Open File", "Error Open COM1 !", "Error Open COM2 !"}));
    QCOMPARE(seen.statuses.value(3), QStringLiteral("Connect COM3 -"));
    QVERIFY(seen.statuses.contains(QStringLiteral("Connected")));
    QStringList percentages;
    const QRegularExpression programming(QStringLiteral("^Programming\\.\\.\\.    (\\d+)% Done  $"));
    for (const QString& text : seen.statuses) {
      const auto match = programming.match(text);
      if (match.hasMatch()) percentages << match.captured(1);
    }
    QCOMPARE(percentages, QStringList({"12", "25", "38", "51", "64", "76", "89", "100"}));
    QCOMPARE(seen.statuses.last(), QStringLiteral("Done"));

    QCOMPARE(seen.readout(IdBytesSent), QStringLiteral("1000"));
    QCOMPARE(seen.readout(IdUnusedEdit), QString());
    auto* progress = qobject_cast<QProgressBar*>(dialog.control(IdProgress));
    QCOMPARE(progress->maximum(), 1000);
    QCOMPARE(progress->value(), 1000);
    QVERIFY(seen.button(IdProgram)->isEnabled());
    QVERIFY(!seen.button(IdStop)->isEnabled());

    QCOMPARE(device.WaitForExit(std::chrono::seconds(10)), 0);  // the device got the image byte for byte
  }

  // A device that never answers: the scan probes COM1 while the About box and
  // an error box are open, then Stop ends it.
  void scanGoesOnUnderModalBoxesUntilStop() {
    DeviceProcess device(kDeviceTool, {"--silent"});
    PosixSerialPort port(Ports(Path(device), Missing(2), Missing(3), Missing(4)));
    CProgrammerDlg dialog(port);
    DialogRecorder seen(dialog, 1000);
    LoadSmallImage(dialog);
    dialog.show();
    seen.button(IdProgram)->click();
    QTRY_VERIFY_WITH_TIMEOUT(seen.status().startsWith(QStringLiteral("Connect COM1")), 5000);

    int ticksUnderAbout = 0;
    qsizetype statusesUnderAbout = 0;
    QTimer::singleShot(50, &dialog, [&] {
      auto* about = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      const int ticks = dialog.tickCount();
      const qsizetype statuses = seen.statuses.size();
      QTest::qWait(1000);
      ticksUnderAbout = dialog.tickCount() - ticks;
      statusesUnderAbout = seen.statuses.size() - statuses;
      if (about != nullptr && about != &dialog) about->accept();
    });
    dialog.OnAbout();
    QVERIFY2(ticksUnderAbout >= 3, qPrintable(QString::number(ticksUnderAbout)));
    QVERIFY(statusesUnderAbout >= 3);  // the spinner went on turning

    dialog.setFileChooser([&](QWidget*) { return QString::fromStdString(dir_.File("missing.UPL")); });
    seen.button(IdLoadFile)->click();
    QCOMPARE(seen.boxes.size(), 1);
    QVERIFY2(seen.boxes[0].ticksWhileOpen >= 3, qPrintable(QString::number(seen.boxes[0].ticksWhileOpen)));

    QVERIFY(dialog.engine().link().IsOpen());
    seen.button(IdStop)->click();
    QCOMPARE(seen.status(), QStringLiteral("Stop"));
    QVERIFY(seen.button(IdProgram)->isEnabled());
    QVERIFY(!seen.button(IdStop)->isEnabled());
    // The next tick still probes, then the scan ends and closes the port.
    QTRY_VERIFY_WITH_TIMEOUT(!dialog.engine().link().IsOpen(), 2000);
    const QString last = seen.status();
    QVERIFY(last.startsWith(QStringLiteral("Connect COM1 ")));
    const int ticks = dialog.tickCount();
    QTest::qWait(500);
    QVERIFY(dialog.tickCount() > ticks);  // the timer runs on, idle
    QCOMPARE(seen.status(), last);
  }

  // A box opened from a tick: the device reports a failed result, and the
  // ticks go on while the box is open. The failure ends the run: the device
  // then closes the line (its one run is over) while the box still shows, and
  // no box for the lost port follows; Program may start again, and the port
  // stays open as after success.
  void failureEndsTheRunWhileTicksGoOnUnderItsBox() {
    const QString image = WriteImageFile(dir_, "FAIL.UPL", RandomBytes(300, 3));
    DeviceProcess device(kDeviceTool, {"--baud", "0", "--status", "2", "--runs", "1"});
    PosixSerialPort port(Ports(Path(device), Missing(2), Missing(3), Missing(4)));
    CProgrammerDlg dialog(port);
    DialogRecorder seen(dialog, 1500);
    bool buttonsAtBox = false;
    QObject::connect(&dialog, &CProgrammerDlg::messageBoxAboutToShow, &dialog, [&](QMessageBox*) {
      buttonsAtBox = seen.button(IdProgram)->isEnabled() && !seen.button(IdStop)->isEnabled();
    });
    int deviceEnded = -2;
    seen.afterBox = [&] {
      if (deviceEnded == -2) deviceEnded = device.WaitForExit(std::chrono::milliseconds(0));
    };
    dialog.setFileChooser([&](QWidget*) { return image; });
    dialog.show();
    seen.button(IdLoadFile)->click();
    seen.button(IdProgram)->click();
    QTRY_COMPARE_WITH_TIMEOUT(seen.boxes.size(), 1, 15000);
    QCOMPARE(seen.boxes[0].text, QStringLiteral("   Programming Device Fail!    "));
    QCOMPARE(seen.boxes[0].icon, QMessageBox::Warning);
    QVERIFY2(seen.boxes[0].ticksWhileOpen >= 3, qPrintable(QString::number(seen.boxes[0].ticksWhileOpen)));
    QVERIFY2(deviceEnded >= 0, "the device closed the line while the failure box showed");
    QVERIFY(buttonsAtBox);

    const int ticks = dialog.tickCount();
    QTest::qWait(500);
    QVERIFY(dialog.tickCount() > ticks);
    QCOMPARE(seen.boxes.size(), 1);
    QCOMPARE(seen.status(), QStringLiteral("Done"));
    QCOMPARE(dialog.engine().lastOutcome(), RunOutcome::Failure);
    QVERIFY(dialog.engine().link().IsOpen());
    QVERIFY(seen.button(IdProgram)->isEnabled());
    QVERIFY(!seen.button(IdStop)->isEnabled());
  }

  // Runs whose result arrives while the About box, or the context menu, or
  // the About box opened from it, is open: opened at times from before the
  // result to after it. Every run's success box must show over whatever is
  // modal then, and the About box must go on taking input (Esc) after it.
  void resultWhileTheAboutBoxOrTheContextMenuIsOpen() {
    constexpr int kRuns = 12;
    const QString image = WriteImageFile(dir_, "RACE.UPL", RandomBytes(300, 9));
    DeviceProcess device(kDeviceTool, {"--baud", "0", "--runs", std::to_string(kRuns)});
    PosixSerialPort port(Ports(Path(device), Missing(2), Missing(3), Missing(4)));
    CProgrammerDlg dialog(port);
    dialog.setFileChooser([&](QWidget*) { return image; });
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    auto* program = qobject_cast<QPushButton*>(dialog.control(IdProgram));
    qobject_cast<QPushButton*>(dialog.control(IdLoadFile))->click();

    int boxes = 0;
    QStringList faults;
    // Closes whatever the run left open over the dialog: the About box by Esc.
    const auto closeLeftOvers = [&] {
      if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) menu->close();
      if (auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget())) {
        QTest::keyClick(about, Qt::Key_Escape);
        if (about->isVisible()) faults << QStringLiteral("Esc did not close the About box");
      }
    };
    QObject::connect(&dialog, &CProgrammerDlg::messageBoxAboutToShow, &dialog, [&](QMessageBox* box) {
      ++boxes;
      auto* about = dialog.findChild<CAboutDlg*>();
      if (about != nullptr && about->isVisible() && box->parentWidget() != about) {
        faults << QStringLiteral("run %1: the box is not over the About box").arg(boxes);
      }
      QTimer::singleShot(30, box, [&, box, about] {
        box->accept();
        QTimer::singleShot(30, &dialog, [&, about] {
          if (about != nullptr && about->isVisible() && QApplication::activeModalWidget() != about) {
            faults << QStringLiteral("run %1: the About box is no longer modal after the box").arg(boxes);
          }
          closeLeftOvers();
        });
      });
    });

    for (int run = 0; run < kRuns; ++run) {
      const int boxesBefore = boxes;
      // A run takes some 5 ticks: open things from the start to past the result.
      const int delayMs = 60 * (run / 3);
      QTimer::singleShot(delayMs, &dialog, [&, run] {
        // Opened after the result, it is closed here.
        QTimer::singleShot(1500, &dialog, closeLeftOvers);
        if (run % 3 == 0) {
          dialog.OnAbout();
        } else {
          // Shift+F10; the third time, Enter then chooses About in the menu.
          if (run % 3 == 2) {
            QTimer::singleShot(20, &dialog, [] {
              if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                QTest::keyClick(menu, Qt::Key_Return);
              }
            });
          }
          QTest::keyClick(&dialog, Qt::Key_F10, Qt::ShiftModifier);
        }
      });
      program->click();
      QTRY_VERIFY2_WITH_TIMEOUT(boxes == boxesBefore + 1, qPrintable(QStringLiteral("run %1: no box").arg(run)), 10000);
      const auto settled = [&] {
        return QApplication::activeModalWidget() == nullptr && QApplication::activePopupWidget() == nullptr &&
               program->isEnabled();
      };
      QTRY_VERIFY_WITH_TIMEOUT(settled(), 5000);
      QCOMPARE(dialog.engine().lastOutcome(), RunOutcome::Success);
    }
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
    QCOMPARE(device.WaitForExit(std::chrono::seconds(10)), 0);
  }

  void loadErrorKeepsTheImageAndTheProgramButton() {
    PosixSerialPort port(PortMap{});
    CProgrammerDlg dialog(port);
    DialogRecorder seen(dialog);
    const QString missing = QString::fromStdString(dir_.File("gone.UPL"));
    QString chosen = missing;
    dialog.setFileChooser([&](QWidget*) { return chosen; });

    // Before any image: the error changes nothing.
    seen.button(IdLoadFile)->click();
    QCOMPARE(seen.boxes.size(), 1);
    QCOMPARE(seen.boxes[0].icon, QMessageBox::Critical);
    QVERIFY(seen.boxes[0].text.contains(QStringLiteral("was not found")));
    QVERIFY(!seen.button(IdProgram)->isEnabled());
    QCOMPARE(seen.readout(IdImageLength), QString());
    QCOMPARE(seen.status(), QStringLiteral("Open File"));

    // After a good image: the error keeps it, its length and Program enabled.
    const std::vector<std::uint8_t> raw = RandomBytes(1000, 11);
    chosen = WriteImageFile(dir_, "GOOD.UPL", raw);
    seen.button(IdLoadFile)->click();
    QCOMPARE(seen.readout(IdImageLength), QStringLiteral("1000"));
    chosen = missing;
    seen.button(IdLoadFile)->click();
    QCOMPARE(seen.boxes.size(), 2);
    QCOMPARE(seen.readout(IdImageLength), QStringLiteral("1000"));
    QVERIFY(seen.button(IdProgram)->isEnabled());
    QCOMPARE(dialog.engine().state().imageLength, 1000u);
    QVERIFY(std::equal(raw.begin(), raw.end(), dialog.engine().state().imageData.begin()));

    // Cancelling the chooser only shows "Open File".
    seen.statuses.clear();
    chosen.clear();
    seen.button(IdLoadFile)->click();
    QCOMPARE(seen.statuses, QStringList({"Open File"}));
    QCOMPARE(seen.boxes.size(), 2);
  }

  void exitAfterARunClosesThePortOnce() {
    const std::vector<std::uint8_t> raw = RandomBytes(500, 5);
    const QString image = WriteImageFile(dir_, "EXIT.UPL", raw);
    DeviceProcess device(kDeviceTool, {"--baud", "0"});
    CountingPort port(Ports(Missing(1), Path(device), Missing(3), Missing(4)));
    CProgrammerApp application(port);
    int closesBeforeExit = -1;
    const int result = application.InitInstance([&](CProgrammerDlg& dialog) {
      auto* seen = new DialogRecorder(dialog);
      QObject::connect(&dialog, &QObject::destroyed, [seen] { delete seen; });
      dialog.setFileChooser([&](QWidget*) { return image; });
      seen->afterBox = [&, seen] {
        closesBeforeExit = port.closes;
        QTimer::singleShot(100, seen->button(IdExit), &QPushButton::click);
      };
      QTimer::singleShot(0, &dialog, [seen] {
        seen->button(IdLoadFile)->click();
        seen->button(IdProgram)->click();
      });
      QTimer::singleShot(30000, &dialog, &QDialog::reject);
    });
    QCOMPARE(result, int(QDialog::Rejected));
    QCOMPARE(closesBeforeExit, 0);  // the port stayed open after the run
    QCOMPARE(port.closes, 1);
  }

  // No port can be opened: the engine ends the program after its box, and
  // nothing is closed.
  void programEndsWhenNoPortOpens() {
    CountingPort port(Ports(Missing(1), Missing(2), Missing(3), Missing(4)));
    CProgrammerApp application(port);
    QString firstTooltip;
    QStringList texts;
    const QString image = WriteImageFile(dir_, "ANY.UPL", RandomBytes(10, 1));
    const int result = application.InitInstance([&](CProgrammerDlg& dialog) {
      auto* seen = new DialogRecorder(dialog);
      QObject::connect(&dialog, &QObject::destroyed, [seen] { delete seen; });
      QObject::connect(&dialog, &QDialog::finished, [seen, &texts] {
        texts = seen->statuses;
        for (const ShownBox& box : seen->boxes) texts << box.text;
      });
      QObject::connect(&dialog, &CProgrammerDlg::ticked, &dialog, [&dialog, &firstTooltip] {
        if (firstTooltip.isEmpty()) firstTooltip = dialog.control(IdStatus)->toolTip();
      });
      dialog.setFileChooser([image](QWidget*) { return image; });
      QTimer::singleShot(0, &dialog, [seen] {
        seen->button(IdLoadFile)->click();
        seen->button(IdProgram)->click();
      });
    });
    QCOMPARE(result, -1);
    QCOMPARE(port.closes, 0);
    QCOMPARE(texts, QStringList({"Open File", "Error Open COM1 !", "Error Open COM2 !", "Error Open COM3 !",
                                 "Error Open COM4 !", "  Can not Connect To Device!    "}));
    QVERIFY(firstTooltip.contains(Missing(1) + QStringLiteral(": No such file or directory")));
  }

 private:
  QString Missing(int n) const { return QString::fromStdString(dir_.File("no-port-" + std::to_string(n))); }

  void LoadSmallImage(CProgrammerDlg& dialog) {
    const QString image = WriteImageFile(dir_, "SMALL.UPL", RandomBytes(256, 2));
    dialog.setFileChooser([image](QWidget*) { return image; });
    qobject_cast<QPushButton*>(dialog.control(IdLoadFile))->click();
  }

  TempDir dir_;
};

QTEST_MAIN(ProgrammingRunTest)
#include "programming_run_test.moc"
