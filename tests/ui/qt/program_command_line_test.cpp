// The two programs as the operator starts them: their arguments, their exit
// statuses, the port-error explanations, and the headless demo against the
// simulated device.
#include <grp.h>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

#include "command_line.h"
#include "device_process.h"
#include "image_file.h"
#include "permission_hint.h"
#include "serial_devices.h"
#include "temp_dir.h"

using namespace tarnwick;
using namespace tarnwick::testing;
using namespace tarnwick::ui;

namespace {

struct Finished {
  int exitCode = -1;
  QString out;
  QString err;
};

Finished Run(const QString& program, const QStringList& arguments, int timeoutMs = 30000) {
  QProcess process;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  process.setProcessEnvironment(environment);
  process.start(program, arguments);
  Finished result;
  if (!process.waitForFinished(timeoutMs)) {
    process.kill();
    process.waitForFinished();
    return result;
  }
  result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  result.out = QString::fromLocal8Bit(process.readAllStandardOutput());
  result.err = QString::fromLocal8Bit(process.readAllStandardError());
  return result;
}

}  // namespace

class ProgramCommandLineTest : public QObject {
  Q_OBJECT

 private slots:
  void programTakesOnlyPortMappings() {
    for (const QStringList& arguments :
         {QStringList{"-x"}, QStringList{"COM1=/dev/ttyS0", "extra"}, QStringList{"--timeout", "5"}}) {
      const Finished run = Run(QStringLiteral(TARNWICK_EXE), arguments);
      QCOMPARE(run.exitCode, 2);
      QVERIFY2(run.err.startsWith(QStringLiteral("tarnwick: ")), qPrintable(run.err));
      QVERIFY2(run.err.contains(QStringLiteral("\nusage: tarnwick [COMn=DEVICE]...")), qPrintable(run.err));
    }
    PortMap ports;
    const options::Parsed mapped = ParseProgramArguments({"COM2=/tmp/a", "COM4=/tmp/b"}, ports);
    QVERIFY(mapped.outcome == options::Outcome::Run);
    QCOMPARE(ports.devices, (std::array<std::string, 4>{"", "/tmp/a", "", "/tmp/b"}));
    const options::Parsed refused = ParseProgramArguments({"COM1=/tmp/c", "COM7=/tmp/d"}, ports);
    QVERIFY(refused.outcome == options::Outcome::Error);
    QVERIFY2(refused.error.find("COM7=/tmp/d") != std::string::npos, refused.error.c_str());
    QCOMPARE(ports.devices[0], std::string());  // a refused line changes no mapping
  }

  // --help and --version print on standard output and exit 0, needing no
  // display, whatever mappings or wrong values stand before them.
  void helpAndVersion() {
    const struct {
      const char* program;
      QString name;
      QStringList listed;
    } programs[] = {
        {TARNWICK_EXE, QStringLiteral("tarnwick"), {"  COMn=DEVICE  ", "  -h, --help  ", "  --version  "}},
        {TARNWICK_DEMO_EXE, QStringLiteral("tarnwick-demo"), {"  --timeout SECONDS  ", "  COMn=DEVICE  ", "  -h, --help  "}},
    };
    for (const auto& each : programs) {
      const QString program = QString::fromLocal8Bit(each.program);
      for (const QStringList& arguments : {QStringList{"COM2=/dev/null", "--help"}, QStringList{"COM9=x", "-h"}}) {
        const Finished help = Run(program, arguments);
        QCOMPARE(help.exitCode, 0);
        QVERIFY2(help.out.startsWith(QStringLiteral("usage: ") + each.name + QLatin1Char(' ')), qPrintable(help.out));
        for (const QString& line : each.listed) QVERIFY2(help.out.contains("\n" + line), qPrintable(line));
        QVERIFY2(help.out.contains(QStringLiteral("\nExit status: ")), qPrintable(help.out));
      }
      const Finished version = Run(program, {QStringLiteral("--version")});
      QCOMPARE(version.exitCode, 0);
      QCOMPARE(version.out, each.name + QStringLiteral(" " TARNWICK_VERSION "\n"));
    }
    // The demo's wrong time-out does not hide the version.
    QCOMPARE(Run(QStringLiteral(TARNWICK_DEMO_EXE), {"--timeout", "0", "--version"}).exitCode, 0);
  }

  void demoArguments() {
    PortMap ports;
    DemoOptions options;
    QVERIFY(ParseDemoArguments({"COM3=/tmp/pty", "--timeout", "5", "image.UPL"}, ports, options).outcome ==
            options::Outcome::Run);
    QCOMPARE(options.imagePath, std::string("image.UPL"));
    QCOMPARE(options.timeoutSeconds, 5);
    QCOMPARE(ports.devices[2], std::string("/tmp/pty"));
    // "--timeout=N", and an image whose name starts with '-' after "--".
    QVERIFY(ParseDemoArguments({"--timeout=7", "--", "-image.UPL"}, ports, options).outcome == options::Outcome::Run);
    QCOMPARE(options.imagePath, std::string("-image.UPL"));
    QCOMPARE(options.timeoutSeconds, 7);
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"COM3=/tmp/pty"}, {"a.UPL", "b.UPL"}, {"--timeout", "0", "a.UPL"},
          {"--timeout", "-5", "a.UPL"}, {"--timeout"}, {"-image.UPL"}, {"COM1=/tmp/x", "--bogus", "a.UPL"},
          {"COM0=/tmp/x", "a.UPL"}}) {
      DemoOptions untouched;
      const options::Parsed refused = ParseDemoArguments(arguments, ports, untouched);
      QVERIFY(refused.outcome == options::Outcome::Error);
      QVERIFY(!refused.error.empty() && refused.error.find('\n') == std::string::npos);
      QCOMPARE(untouched.imagePath, std::string());
    }
    QCOMPARE(ports.devices[0], std::string());  // a refused line changes no mapping
    const Finished none = Run(QStringLiteral(TARNWICK_DEMO_EXE), {});
    QCOMPARE(none.exitCode, 2);
    QVERIFY2(none.err.startsWith(QStringLiteral("tarnwick-demo: the path of an image is missing\nusage: tarnwick-demo ")),
             qPrintable(none.err));
  }

  void openAdviceFollowsTheKindOfError() {
    const std::string file = dir_.File("port");
    WriteBytes(file, {});
    struct stat info {};
    QCOMPARE(::stat(file.c_str(), &info), 0);
    const group* owner = ::getgrgid(info.st_gid);
    QVERIFY(owner != nullptr);
    const QString name = QString::fromLocal8Bit(owner->gr_name);
    PortError error;
    error.kind = PortErrorKind::PermissionDenied;
    error.code = EACCES;
    const QString advice = QString::fromStdString(OpenAdvice(file, error));
    QVERIFY2(advice.startsWith(QStringLiteral("your user must be in group \"") + name + "\""), qPrintable(advice));
    QVERIFY2(advice.contains("usermod -aG " + name + " "), qPrintable(advice));
    QCOMPARE(advice.toStdString(), PermissionAdvice(file, EACCES));
    // Where the owner cannot be told, the usual group is named.
    QVERIFY(QString::fromStdString(OpenAdvice(dir_.File("gone"), error)).contains(QStringLiteral("usually dialout")));
    // Only a refusal is a matter of groups.
    QCOMPARE(PermissionAdvice(file, ENOENT), std::string());

    error = PortError{};
    error.kind = PortErrorKind::InUse;
    error.code = EBUSY;
    QVERIFY(QString::fromStdString(OpenAdvice(file, error)).startsWith(QStringLiteral("close the program that holds it")));
    error.holderPid = 4321;
    error.holderName = "minicom";
    QVERIFY(QString::fromStdString(OpenAdvice(file, error))
                .startsWith(QStringLiteral("close minicom (pid 4321), which holds it")));
    error = PortError{};
    error.kind = PortErrorKind::NotFound;
    error.code = ENOENT;
    QVERIFY(QString::fromStdString(OpenAdvice(file, error)).contains(QStringLiteral("plugged in")));
  }

  void demoProgramsTheSimulatedDevice() {
    const std::vector<std::uint8_t> raw = RandomBytes(700, 21);
    WriteBytes(dir_.File("raw.bin"), raw);
    const QString image = WriteImageFile(dir_, "DEMO.UPL", raw);
    DeviceProcess device(TARNWICK_DEVICE_EXE, {"--baud", "0", "--runs", "1", "--expect", dir_.File("raw.bin")});
    QVERIFY(!device.serialPath().empty());

    const Finished run = Run(QStringLiteral(TARNWICK_DEMO_EXE),
                             {"COM1=" + Missing(), "COM2=" + QString::fromStdString(device.serialPath()), "COM3=" + Missing(),
                              "COM4=" + Missing(), image});
    QVERIFY2(run.exitCode == 0, qPrintable(run.out + run.err));
    // Each status once, in order, then the final message.
    const QStringList expected = {"status \"Idle\"", "status \"Open File\"", "status \"Error Open COM1 !\"",
                                  "status \"Connect COM2 -\"", "status \"Connected\"",
                                  "status \"Programming...    100% Done  \"", "status \"Done\"",
                                  "information \"   Programming Device Succeed!   \"", "programming succeeded"};
    qsizetype at = 0;
    for (const QString& line : expected) {
      const qsizetype found = run.out.indexOf(line, at);
      QVERIFY2(found >= 0, qPrintable(line + "\n" + run.out));
      at = found + line.size();
    }
    // The port's error goes to standard error in the system's words.
    QVERIFY2(run.err.contains("Error Open COM1 !: " + Missing() + ": No such file or directory"), qPrintable(run.err));
    QCOMPARE(device.WaitForExit(std::chrono::seconds(10)), 0);
  }

  void demoFailsWithoutADevice() {
    const QString image = WriteImageFile(dir_, "NONE.UPL", RandomBytes(10, 4));
    const Finished run =
        Run(QStringLiteral(TARNWICK_DEMO_EXE),
            {"COM1=" + Missing(), "COM2=" + Missing(), "COM3=" + Missing(), "COM4=" + Missing(), image});
    QCOMPARE(run.exitCode, 1);
    QVERIFY(run.out.contains(QStringLiteral("exclamation \"  Can not Connect To Device!    \"")));
    QVERIFY(run.out.contains(QStringLiteral("programming did not succeed")));

    const Finished missingImage = Run(QStringLiteral(TARNWICK_DEMO_EXE), {"COM1=" + Missing(), Missing()});
    QCOMPARE(missingImage.exitCode, 1);
    QVERIFY(missingImage.out.contains(QStringLiteral("stop \"")));
  }

  // A port this user may not open: the dialog's detail (its tooltip, and
  // standard error) tells the group to join. The superuser may open anything,
  // so it runs the program as an ordinary user.
  void demoExplainsAPortThisUserMayNotOpen() {
    const QString image = WriteImageFile(dir_, "DENIED.UPL", RandomBytes(10, 5));
    const std::string port = dir_.File("denied-port");
    WriteBytes(port, {});
    QCOMPARE(::chmod(port.c_str(), 0), 0);
    struct stat info {};
    QCOMPARE(::stat(port.c_str(), &info), 0);
    const group* owner = ::getgrgid(info.st_gid);
    QVERIFY(owner != nullptr);
    QStringList arguments{"COM1=" + QString::fromStdString(port), "COM2=" + Missing(), "COM3=" + Missing(),
                          "COM4=" + Missing(), image};
    QString program = QStringLiteral(TARNWICK_DEMO_EXE);
    if (::geteuid() == 0) {
      if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty()) {
        QSKIP("run as the superuser, without setpriv to run the program as another user");
      }
      arguments.prepend(program);
      arguments = QStringList{"--reuid=65534", "--regid=65534", "--clear-groups"} + arguments;
      program = QStringLiteral("setpriv");
    }
    const Finished run = Run(program, arguments);
    QCOMPARE(run.exitCode, 1);
    const QString expected = QString::fromStdString(port) + ": " + QString::fromLocal8Bit(std::strerror(EACCES)) +
                             ". Your user must be in group \"" + QString::fromLocal8Bit(owner->gr_name) +
                             "\", which owns " + QString::fromStdString(port) + ": sudo usermod";
    QVERIFY2(run.err.contains(expected), qPrintable(run.err));
  }

  void demoFailsOnAFailedResult() {
    const QString image = WriteImageFile(dir_, "BAD.UPL", RandomBytes(200, 8));
    DeviceProcess device(TARNWICK_DEVICE_EXE, {"--baud", "0", "--status", "2"});
    const Finished run = Run(QStringLiteral(TARNWICK_DEMO_EXE), {"COM1=" + QString::fromStdString(device.serialPath()), image});
    QCOMPARE(run.exitCode, 1);
    QVERIFY(run.out.contains(QStringLiteral("exclamation \"   Programming Device Fail!    \"")));
  }

  void demoFailsWhenThePortIsLost() {
    const QString image = WriteImageFile(dir_, "LOST.UPL", RandomBytes(1000, 9));
    DeviceProcess device(TARNWICK_DEVICE_EXE, {"--baud", "0", "--hang-up-after", "2"});
    const QString port = QString::fromStdString(device.serialPath());
    const Finished run = Run(QStringLiteral(TARNWICK_DEMO_EXE), {"COM1=" + port, image});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.out.contains(QStringLiteral("exclamation \"The connection to the device on COM1 was lost.\"")),
             qPrintable(run.out));
    QVERIFY2(run.err.contains(port + ": Input/output error"), qPrintable(run.err));
  }

 private:
  QString Missing() const { return QString::fromStdString(dir_.File("no-such-port")); }

  TempDir dir_;
};

QTEST_MAIN(ProgramCommandLineTest)
#include "program_command_line_test.moc"
