// tarnwick-cli as its users run it, against the simulated device on
// pseudo-terminals: exit statuses, the JSON lines, the run log, and what the
// device itself received.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "cli_fixture.h"
#include "cli_process.h"
#include "device_process.h"
#include "fake_machine.h"
#include "posix_serial_port.h"
#include "sha256.h"
#include "temp_dir.h"

namespace tarnwick::cli {
namespace {

using namespace std::chrono_literals;
using testing::CliProcess;
using testing::DeviceProcess;
using nlohmann::json;
using testing::ParseJsonLines;
using station::Sha256Hex;

class CliRunTest : public testing::CliFixture {
 protected:
  std::string ImageDigest() const {
    const auto bytes = testing::ReadBytes(image());
    return Sha256Hex(bytes.data(), bytes.size()).data();
  }

  static std::vector<json> Events(const std::vector<json>& lines, const std::string& event) {
    std::vector<json> found;
    for (const auto& line : lines) {
      if (line.value("event", "") == event) found.push_back(line);
    }
    return found;
  }

  static std::vector<std::string> FileLines(const std::string& path) {
    const auto bytes = testing::ReadBytes(path);
    std::vector<std::string> lines;
    std::string line;
    for (std::uint8_t byte : bytes) {
      if (byte == '\n') {
        lines.push_back(line);
        line.clear();
      } else {
        line.push_back(static_cast<char>(byte));
      }
    }
    EXPECT_TRUE(line.empty()) << "a line of the log is not whole: " << line;
    return lines;
  }

  // The end records among a log's records (each run has a start record too).
  static std::vector<json> EndRecords(const std::vector<json>& log) {
    std::vector<json> ends;
    for (const auto& record : log) {
      if (record.value("record", "") == "end") ends.push_back(record);
    }
    return ends;
  }

  // The log's lines, each parsed as JSON.
  static std::vector<json> LogRecords(const std::string& path) { return ParseJsonLines(FileLines(path)); }

};

TEST_F(CliRunTest, ProgramSucceedsAndReportsItInJsonLines) {
  MakeImage(1000, 31);
  const std::string port = StartDevice({"--baud", "0", "--runs", "1"});
  auto cli = Cli({"program", "--json", port, image()});
  ASSERT_EQ(cli->WaitForExit(30s), 0) << cli->Output() << cli->Errors();
  EXPECT_EQ(devices[0]->WaitForExit(10s), 0) << "the device must have received the image whole";

  const auto lines = cli->JsonLines();
  ASSERT_FALSE(lines.empty());
  double lastTime = 0;
  for (const auto& line : lines) {
    EXPECT_EQ(line.at("port"), port) << line;
    EXPECT_EQ(line.at("path"), port) << line;
    ASSERT_TRUE(line.at("time").is_number()) << line;
    const double time = line.at("time").get<double>();
    EXPECT_GE(time, lastTime) << line;
    lastTime = time;
  }
  // The dialog's status texts, in their order.
  std::vector<std::string> texts;
  for (const auto& line : Events(lines, "status")) texts.push_back(line.at("text").get<std::string>());
  ASSERT_GE(texts.size(), 4u);
  // The port is called by the name it was given, not by a COM slot.
  EXPECT_EQ(texts.front(), "Connect " + port + " -");
  const auto connected = std::find(texts.begin(), texts.end(), "Connected");
  ASSERT_NE(connected, texts.end());
  EXPECT_EQ(texts.back(), "Done");
  EXPECT_NE(std::find(texts.begin(), texts.end(), "Programming...    51% Done  "), texts.end());

  // A progress line for every block: 8 blocks, the last one 104 bytes.
  const auto progress = Events(lines, "progress");
  ASSERT_EQ(progress.size(), 8u);
  for (std::size_t i = 0; i < progress.size(); ++i) {
    EXPECT_EQ(progress[i].at("sent"), std::min<std::size_t>((i + 1) * 128, 1000));
    EXPECT_EQ(progress[i].at("total"), 1000);
  }
  EXPECT_EQ(progress.back().at("percent"), 100);

  const json& result = lines.back();
  EXPECT_EQ(result.at("event"), "result");
  EXPECT_EQ(result.at("outcome"), "success");
  EXPECT_EQ(result.at("device_status"), 0);
  EXPECT_EQ(result.at("sent"), 1000);
  EXPECT_EQ(result.at("path"), port);
  EXPECT_EQ(result.at("image").at("path"), image());
  EXPECT_EQ(result.at("image").at("bytes"), 1000);
  EXPECT_EQ(result.at("image").at("sha256"), ImageDigest());
  EXPECT_EQ(Events(lines, "result").size(), 1u);
}

TEST_F(CliRunTest, ProgramInPlainTextWithALogRecord) {
  MakeImage(700, 32);
  const std::string port = StartDevice({"--baud", "0", "--runs", "1"});
  auto cli = Cli({"program", "--log", dir.File("runs.log"), "COM2=" + port, image()});
  ASSERT_EQ(cli->WaitForExit(30s), 0) << cli->Output() << cli->Errors();
  // Not on a terminal: each status text as it changes, then the result.
  const auto lines = cli->Lines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_NE(cli->Output().find("COM2  status \"Connect " + port + " -\""), std::string::npos) << cli->Output();
  EXPECT_NE(cli->Output().find("status \"Done\""), std::string::npos);
  EXPECT_NE(lines.back().find("success, 700 of 700 bytes"), std::string::npos) << lines.back();
  EXPECT_NE(cli->Errors().find("   Programming Device Succeed!   "), std::string::npos) << cli->Errors();

  // The run's start record, then its end record.
  const auto log = LogRecords(dir.File("runs.log"));
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].at("record"), "start");
  EXPECT_EQ(log[1].at("record"), "end");
  EXPECT_EQ(log[0].at("run"), log[1].at("run"));
  EXPECT_EQ(log[1].at("port"), "COM2");
  EXPECT_EQ(log[1].at("path"), port);
  EXPECT_EQ(log[1].at("outcome"), "success");
  EXPECT_EQ(log[1].at("image").at("path"), image());
  EXPECT_EQ(log[1].at("image").at("sha256"), ImageDigest());
  const std::string start = log[1].at("start").get<std::string>(), end = log[1].at("end").get<std::string>();
  ASSERT_EQ(start.size(), 24u) << start;  // 2025-01-31T12:34:56.789Z
  EXPECT_EQ(start[10], 'T');
  EXPECT_EQ(start.back(), 'Z');
  EXPECT_LE(start, end);
}

TEST_F(CliRunTest, FailureReportedByTheDeviceEndsTheRun) {
  MakeImage(600, 33);
  const std::string port = StartDevice({"--baud", "0", "--status", "2"});
  auto cli = Cli({"program", "--json", port, image()});
  ASSERT_EQ(cli->WaitForExit(30s), 1) << cli->Output() << cli->Errors();
  const json result = cli->JsonLines().back();
  EXPECT_EQ(result.at("outcome"), "failure");
  EXPECT_EQ(result.at("device_status"), 2);
  EXPECT_EQ(result.at("sent"), 600);
  EXPECT_NE(cli->Errors().find("   Programming Device Fail!    "), std::string::npos) << cli->Errors();
}

TEST_F(CliRunTest, SilentDeviceOnOnePortGivesUpAfterTheProbeLimit) {
  MakeImage(600, 34);
  const std::string port = StartDevice({"--baud", "0", "--silent"});
  auto cli = Cli({"program", "--json", port, image()});
  ASSERT_EQ(cli->WaitForExit(30s), 3) << cli->Output() << cli->Errors();
  // Opened at the second tick, probed for 100, closed at the 103rd.
  EXPECT_GE(cli->Seconds(), 10.2);
  EXPECT_LT(cli->Seconds(), 11.5);
  const json result = cli->JsonLines().back();
  EXPECT_EQ(result.at("outcome"), "no-device");
  EXPECT_EQ(result.at("port"), port);  // one port tried: it is named
  EXPECT_NE(cli->Errors().find(port + ": opened, but no device answered in 10 s"), std::string::npos)
      << cli->Errors();
  EXPECT_NE(cli->Errors().find("power"), std::string::npos);
}

TEST_F(CliRunTest, NoPortOpensOnSeveralPortsTried) {
  MakeImage(600, 35);
  auto cli = Cli({"program", "--json", dir.File("no-port-a"), dir.File("no-port-b"), image()});
  ASSERT_EQ(cli->WaitForExit(10s), 3) << cli->Output() << cli->Errors();
  EXPECT_LT(cli->Seconds(), 2.0);
  const json result = cli->JsonLines().back();
  EXPECT_EQ(result.at("outcome"), "no-device");
  EXPECT_EQ(result.at("port"), nullptr);
  EXPECT_EQ(result.at("path"), nullptr);
  // Each port its own line: why it did not open, and what to check.
  EXPECT_NE(cli->Errors().find(dir.File("no-port-a") + ": could not open it: "), std::string::npos) << cli->Errors();
  EXPECT_NE(cli->Errors().find(dir.File("no-port-b") + ": could not open it: "), std::string::npos);
  EXPECT_NE(cli->Errors().find("plugged in"), std::string::npos);
}

TEST_F(CliRunTest, DeviceKilledMidRunIsALostPort) {
  MakeImage(20000, 36);
  const std::string port = StartDevice({"--baud", "0"});
  auto cli = Cli({"program", "--json", port, image()});
  ASSERT_TRUE(cli->WaitFor("\"sent\":640,", 20s)) << cli->Output() << cli->Errors();
  devices[0]->Signal(SIGKILL);
  ASSERT_EQ(cli->WaitForExit(10s), 5) << cli->Output() << cli->Errors();
  const json result = cli->JsonLines().back();
  EXPECT_EQ(result.at("outcome"), "port-lost");
  EXPECT_LT(result.at("sent").get<unsigned>(), 20000u);
}

TEST_F(CliRunTest, DeviceThatStopsAskingIsStalled) {
  MakeImage(20000, 37);
  const std::string port = StartDevice({"--baud", "0"});
  auto cli = Cli({"program", "--json", "--stall-timeout", "0.5", port, image()});
  ASSERT_TRUE(cli->WaitFor("\"sent\":640,", 20s)) << cli->Output() << cli->Errors();
  const auto stopped = std::chrono::steady_clock::now();
  devices[0]->Signal(SIGSTOP);
  const int status = cli->WaitForExit(10s);
  const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - stopped).count();
  devices[0]->Signal(SIGCONT);
  ASSERT_EQ(status, 4) << cli->Output() << cli->Errors();
  EXPECT_GE(waited, 0.4);
  EXPECT_LT(waited, 3.0);
  EXPECT_EQ(cli->JsonLines().back().at("outcome"), "stalled");
}

TEST_F(CliRunTest, InterruptEndsTheRunAndFreesThePort) {
  MakeImage(20000, 38);
  const std::string port = StartDevice({"--baud", "0"});
  auto cli = Cli({"program", "--json", port, image()});
  ASSERT_TRUE(cli->WaitFor("\"sent\":640,", 20s)) << cli->Output() << cli->Errors();
  cli->Signal(SIGINT);
  ASSERT_EQ(cli->WaitForExit(5s), 130) << cli->Output() << cli->Errors();
  const json result = cli->JsonLines().back();
  EXPECT_EQ(result.at("event"), "result");
  EXPECT_EQ(result.at("outcome"), "interrupted");
  // Lock and exclusive mode are gone with the run: the port opens again at once.
  PortMap map;
  map.devices[0] = port;
  PosixSerialPort again(map);
  EXPECT_TRUE(again.Open("COM1")) << again.LastError();
}

// The device's serial end as another program would have left it: cooked,
// echoing, signals on, 9600 baud. Returns the settings as the terminal took
// them. The descriptor is closed again, or the program would find the port in
// use by the test.
termios SetUpForOtherUse(const std::string& path) {
  termios settings{};
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  EXPECT_GE(fd, 0) << path;
  EXPECT_EQ(::tcgetattr(fd, &settings), 0);
  cfsetispeed(&settings, B9600);
  cfsetospeed(&settings, B9600);
  settings.c_iflag |= ICRNL | IXON;
  settings.c_oflag |= OPOST | ONLCR;
  settings.c_lflag |= ICANON | ECHO | ISIG;
  settings.c_cc[VMIN] = 1;
  EXPECT_EQ(::tcsetattr(fd, TCSANOW, &settings), 0);
  EXPECT_EQ(::tcgetattr(fd, &settings), 0);
  ::close(fd);
  return settings;
}

void ExpectLeftAsFound(const std::string& path, const termios& found) {
  termios now{};
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0) << path;
  EXPECT_EQ(::tcgetattr(fd, &now), 0);
  ::close(fd);
  EXPECT_EQ(now.c_iflag, found.c_iflag);
  EXPECT_EQ(now.c_oflag, found.c_oflag);
  EXPECT_EQ(now.c_cflag, found.c_cflag);
  EXPECT_EQ(now.c_lflag, found.c_lflag);
  EXPECT_TRUE(std::equal(std::begin(now.c_cc), std::end(now.c_cc), std::begin(found.c_cc)));
  EXPECT_EQ(cfgetospeed(&now), B9600);
}

// Whether the run ends or is interrupted, the port is left with the settings
// it had; while it runs, a second copy of the program is kept off it.
TEST_F(CliRunTest, PortIsLeftAsFoundWhenTheRunEndsOrIsInterrupted) {
  {
    SCOPED_TRACE("the run is interrupted");
    MakeImage(20000, 43);
    const std::string port = StartDevice({"--baud", "0"});
    const termios found = SetUpForOtherUse(port);
    auto cli = Cli({"program", "--json", port, image()});
    ASSERT_TRUE(cli->WaitFor("\"sent\":640,", 20s)) << cli->Output() << cli->Errors();
    auto second = Cli({"program", "--json", port, image()});
    ASSERT_EQ(second->WaitForExit(10s), 3) << second->Output() << second->Errors();
    // The superuser passes the exclusive mode, and is stopped by the check for other holders.
    const std::string refusal = ::geteuid() == 0 ? "in use by tarnwick-cli" : std::strerror(EBUSY);
    EXPECT_NE(second->Errors().find(port + ": could not open it: " + refusal), std::string::npos)
        << second->Errors();
    cli->Signal(SIGINT);
    ASSERT_EQ(cli->WaitForExit(5s), 130) << cli->Output() << cli->Errors();
    ExpectLeftAsFound(port, found);
  }
  {
    SCOPED_TRACE("the run ends");
    MakeImage(1000, 44);
    // A device that serves one run would close its line when that run is over,
    // perhaps before the port is looked at: this one stays.
    const std::string port = StartDevice({"--baud", "0"});
    const termios found = SetUpForOtherUse(port);
    auto cli = Cli({"program", "--json", port, image()});
    ASSERT_EQ(cli->WaitForExit(30s), 0) << cli->Output() << cli->Errors();
    ExpectLeftAsFound(port, found);
  }
}

TEST_F(CliRunTest, StationOfFourWithAFailureAndASilentDevice) {
  MakeImage(900, 39);
  const std::string good1 = StartDevice({"--baud", "0", "--runs", "1"});
  const std::string failing = StartDevice({"--baud", "0", "--status", "3"});
  const std::string good2 = StartDevice({"--baud", "0", "--runs", "1"});
  const std::string silent = StartDevice({"--baud", "0", "--silent"});
  auto cli = Cli({"station", "--json", "--log", dir.File("station.log"), good1, failing, good2, silent, image()});
  ASSERT_EQ(cli->WaitForExit(30s), 1) << cli->Output() << cli->Errors();
  EXPECT_LT(cli->Seconds(), 11.5);  // side by side: the silent one sets the pace
  EXPECT_EQ(devices[0]->WaitForExit(10s), 0);
  EXPECT_EQ(devices[2]->WaitForExit(10s), 0);

  const auto lines = cli->JsonLines();
  auto resultOf = [&](const std::string& port) {
    for (const auto& line : Events(lines, "result")) {
      if (line.at("port") == port) return line;
    }
    return json::object();
  };
  EXPECT_EQ(resultOf(good1).value("outcome", ""), "success");
  EXPECT_EQ(resultOf(good2).value("outcome", ""), "success");
  EXPECT_EQ(resultOf(failing).value("outcome", ""), "failure");
  EXPECT_EQ(resultOf(failing).value("device_status", -1), 3);
  EXPECT_EQ(resultOf(silent).value("outcome", ""), "no-device");
  EXPECT_EQ(Events(lines, "result").size(), 4u);

  const auto summary = Events(lines, "summary");
  ASSERT_EQ(summary.size(), 4u);
  EXPECT_EQ(summary[0].at("programmed"), 1);
  EXPECT_EQ(summary[1].at("failed"), 1);
  EXPECT_EQ(summary[3].at("programmed"), 0);

  // A start record for each device that answered, an end record for each run.
  const auto log = LogRecords(dir.File("station.log"));
  ASSERT_EQ(log.size(), 7u);
  int ends = 0;
  for (const auto& line : log) {
    EXPECT_EQ(line.at("image").at("bytes"), 900);
    if (line.at("record") != "end") continue;
    ++ends;
    EXPECT_TRUE(line.at("seconds").is_number()) << line;
  }
  EXPECT_EQ(ends, 4);
}

TEST_F(CliRunTest, LoopProgramsThreeDevicesOneAfterAnother) {
  MakeImage(800, 40);
  const std::string port = StartDevice({"--baud", "0", "--runs", "3", "--out", dir.File("got")});
  auto cli = Cli({"station", "--loop", "--json", "--log", dir.File("loop.log"), port, image()});
  ASSERT_TRUE(cli->WaitFor("\"outcome\":\"success\"", 40s, 3)) << cli->Output() << cli->Errors();
  EXPECT_EQ(devices[0]->WaitForExit(10s), 0) << "each of the three must have received the image whole";
  cli->Signal(SIGINT);
  ASSERT_EQ(cli->WaitForExit(5s), 0) << cli->Output() << cli->Errors();
  const auto lines = cli->JsonLines();
  EXPECT_EQ(Events(lines, "result").size(), 3u);  // waiting for a fourth is no run
  const auto summary = Events(lines, "summary");
  ASSERT_EQ(summary.size(), 1u);
  EXPECT_EQ(summary[0].at("programmed"), 3);
  EXPECT_EQ(summary[0].at("failed"), 0);
  for (const char* name : {"got", "got.2", "got.3"}) EXPECT_EQ(testing::ReadBytes(dir.File(name)), raw) << name;
  EXPECT_EQ(LogRecords(dir.File("loop.log")).size(), 6u);  // a start and an end record each
}

TEST_F(CliRunTest, UsbIdAndByIdNameFindTheAdapter) {
  MakeImage(500, 41);
  const std::string port = StartDevice({"--baud", "0", "--runs", "2"});
  testing::FakeMachine machine;
  testing::UsbAdapter adapter = testing::Adapter("ttyUSB0", "FT12345");
  adapter.linkTo = port;
  const std::string byId = machine.AddUsbAdapter(adapter, 1);
  machine.AddUsbAdapter(testing::Adapter("ttyUSB1", "OTHER"), 2);
  const std::vector<std::string> tree{"--dev-root", machine.dev(), "--sys-root", machine.sys()};

  auto arguments = tree;
  arguments.insert(arguments.begin(), {"program", "--json", "--log", dir.File("usb.log")});
  arguments.insert(arguments.end(), {"usb:0403:6001:FT12345", image()});
  auto byUsb = Cli(arguments);
  ASSERT_EQ(byUsb->WaitForExit(30s), 0) << byUsb->Output() << byUsb->Errors();
  EXPECT_EQ(byUsb->JsonLines().back().at("port"), "usb:0403:6001:FT12345");
  EXPECT_EQ(byUsb->JsonLines().back().at("path"), port);

  arguments = tree;
  arguments.insert(arguments.begin(), {"program", "--json", "--log", dir.File("usb.log")});
  arguments.insert(arguments.end(), {byId, image()});
  auto byName = Cli(arguments);
  ASSERT_EQ(byName->WaitForExit(30s), 0) << byName->Output() << byName->Errors();
  EXPECT_EQ(byName->JsonLines().back().at("path"), port);
  EXPECT_EQ(devices[0]->WaitForExit(10s), 0);

  // The record names the adapter by its stable name and serial number.
  const auto log = LogRecords(dir.File("usb.log"));
  ASSERT_EQ(log.size(), 4u);  // a start and an end record for each run
  for (const auto& line : log) {
    EXPECT_EQ(line.at("by_id"), machine.Path("serial/by-id/" + byId));
    EXPECT_EQ(line.at("usb_serial"), "FT12345");
  }
}

// A station that loops programs what its port's name stands for at each run,
// never the node the name stood for before: the adapter is plugged in late,
// pulled (and another device takes its node's name), then its name comes
// back on another adapter.
TEST_F(CliRunTest, LoopFollowsTheNameAcrossAdaptersComingAndGoing) {
  namespace fs = std::filesystem;
  MakeImage(600, 43);
  testing::FakeMachine machine;
  testing::UsbAdapter a = testing::Adapter("ttyUSB0", "AAA");
  testing::UsbAdapter b = testing::Adapter("ttyUSB1", "BBB");
  a.linkTo = StartDevice({"--baud", "0", "--runs", "1", "--out", dir.File("gotA")});
  b.linkTo = StartDevice({"--baud", "0", "--runs", "1", "--out", dir.File("gotB")});
  machine.AddUsbAdapter(b, 2);
  const std::string byId = "usb-FTDI_AAA-if00-port0";
  const std::string link = machine.Path("serial/by-id/" + byId);
  auto cli = Cli({"station", "--loop", "--json", "--log", dir.File("loop.log"), "--dev-root", machine.dev(),
                  "--sys-root", machine.sys(), byId, image()});

  // Not plugged in yet: the port waits for it instead of refusing the name.
  const std::string waiting = "\"text\":\"Waiting for adapter\"";
  ASSERT_TRUE(cli->WaitFor(waiting, 10s)) << cli->Output() << cli->Errors();
  ASSERT_EQ(machine.AddUsbAdapter(a, 1), byId);
  ASSERT_TRUE(cli->WaitFor("\"outcome\":\"success\"", 30s)) << cli->Output() << cli->Errors();
  ASSERT_EQ(devices[0]->WaitForExit(10s), 0);

  // Pulled: its name goes, and the next device to appear takes its node's name.
  fs::remove(link);
  fs::remove(machine.Path("ttyUSB0"));
  fs::create_symlink(StartDevice({"--baud", "0", "--runs", "1", "--out", dir.File("gotC")}),
                     machine.Path("ttyUSB0"));
  ASSERT_TRUE(cli->WaitFor(waiting, 10s, 2)) << cli->Output() << cli->Errors();
  EXPECT_FALSE(cli->WaitFor("never said", 2500ms));
  // Waiting opens nothing: no scan, no run, until the name stands for a device again.
  EXPECT_NE(cli->Lines().back().find(waiting), std::string::npos) << cli->Output();
  EXPECT_NE(cli->Errors().find(byId + ": no adapter is plugged in under that name"), std::string::npos)
      << cli->Errors();

  // The name comes back on another adapter: that one is programmed, and recorded as itself.
  fs::create_symlink("../../ttyUSB1", link);
  ASSERT_TRUE(cli->WaitFor("\"outcome\":\"success\"", 30s, 2)) << cli->Output() << cli->Errors();
  EXPECT_EQ(devices[1]->WaitForExit(10s), 0);
  cli->Signal(SIGINT);
  ASSERT_EQ(cli->WaitForExit(5s), 0) << cli->Output() << cli->Errors();

  EXPECT_EQ(testing::ReadBytes(dir.File("gotA")), raw);
  EXPECT_EQ(testing::ReadBytes(dir.File("gotB")), raw);
  EXPECT_FALSE(fs::exists(dir.File("gotC"))) << "the device that took the pulled adapter's node was programmed";
  const auto results = Events(cli->JsonLines(), "result");
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0].at("path"), a.linkTo);
  EXPECT_EQ(results[1].at("path"), b.linkTo);
  const auto log = EndRecords(LogRecords(dir.File("loop.log")));
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].at("port"), byId);
  EXPECT_EQ(log[0].at("path"), a.linkTo);
  EXPECT_EQ(log[0].at("by_id"), link);
  EXPECT_EQ(log[0].at("usb_serial"), "AAA");
  EXPECT_EQ(log[1].at("port"), byId);
  EXPECT_EQ(log[1].at("path"), b.linkTo);
  EXPECT_EQ(log[1].at("by_id"), link);
  EXPECT_EQ(log[1].at("usb_serial"), "BBB");
}

// A scan opens what the name stood for when it began; a device that answers
// there only after the name has moved to another adapter is left alone.
TEST_F(CliRunTest, LoopLeavesAloneADeviceThatAnswersAfterItsNameMoved) {
  namespace fs = std::filesystem;
  MakeImage(600, 44);
  testing::FakeMachine machine;
  testing::UsbAdapter a = testing::Adapter("ttyUSB0", "AAA");
  testing::UsbAdapter b = testing::Adapter("ttyUSB1", "BBB");
  a.linkTo = StartDevice({"--baud", "0", "--runs", "1", "--out", dir.File("gotA"), "-v"});
  b.linkTo = StartDevice({"--baud", "0", "--runs", "1", "--out", dir.File("gotB")});
  const std::string link = machine.Path("serial/by-id/" + machine.AddUsbAdapter(a, 1));
  machine.AddUsbAdapter(b, 2);
  devices[0]->Signal(SIGSTOP);  // it answers once the name has moved
  auto cli = Cli({"station", "--loop", "--json", "--log", dir.File("loop.log"), "--dev-root", machine.dev(),
                  "--sys-root", machine.sys(), link, image()});
  ASSERT_TRUE(cli->WaitFor("\"text\":\"Connect ", 10s)) << cli->Output() << cli->Errors();
  fs::remove(link);
  fs::create_symlink("../../ttyUSB1", link);
  devices[0]->Signal(SIGCONT);

  ASSERT_TRUE(cli->WaitFor("\"outcome\":\"success\"", 30s)) << cli->Output() << cli->Errors();
  EXPECT_EQ(devices[1]->WaitForExit(10s), 0);
  cli->Signal(SIGINT);
  ASSERT_EQ(cli->WaitForExit(5s), 0) << cli->Output() << cli->Errors();
  EXPECT_FALSE(fs::exists(dir.File("gotA"))) << "the device the name had left was programmed";
  const auto logA = testing::ReadBytes(dir.File("device0.err"));
  const std::string framesA(logA.begin(), logA.end());
  EXPECT_NE(framesA.find("-> request"), std::string::npos) << framesA;
  EXPECT_EQ(framesA.find("<- block"), std::string::npos) << "a block went to the device the name had left\n" << framesA;
  const auto results = Events(cli->JsonLines(), "result");
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].at("path"), b.linkTo);
  EXPECT_NE(cli->Errors().find(link + ": the device that answered on " + a.linkTo + " was left alone"),
            std::string::npos)
      << cli->Errors();
  // No record of the device left alone, not even a start.
  const auto log = LogRecords(dir.File("loop.log"));
  ASSERT_EQ(log.size(), 2u);
  for (const auto& line : log) EXPECT_EQ(line.at("usb_serial"), "BBB") << line;
  EXPECT_EQ(EndRecords(log).size(), 1u);
}

TEST_F(CliRunTest, PortsListsTheFakeMachine) {
  testing::FakeMachine machine;
  const std::string byId = machine.AddUsbAdapter(testing::Adapter("ttyUSB0", "SER0"), 1);
  machine.AddOnBoardPort("ttyS0", 4);
  auto cli = Cli({"ports", "--json", "--dev-root", machine.dev(), "--sys-root", machine.sys(), "COM3=/dev/null"});
  ASSERT_EQ(cli->WaitForExit(10s), 0) << cli->Output() << cli->Errors();
  const auto mappings = Events(cli->JsonLines(), "mapping");
  ASSERT_EQ(mappings.size(), 4u);
  EXPECT_EQ(mappings[0].at("path"), machine.Path("ttyUSB0"));
  EXPECT_EQ(mappings[1].at("path"), machine.Path("ttyS0"));
  EXPECT_EQ(mappings[2].at("path"), "/dev/null");
  EXPECT_EQ(mappings[3].at("path"), nullptr);
  const auto devicesListed = Events(cli->JsonLines(), "device");
  ASSERT_EQ(devicesListed.size(), 2u);
  EXPECT_EQ(devicesListed[0].at("by_id"), machine.Path("serial/by-id/" + byId));
  EXPECT_EQ(devicesListed[0].at("vendor_id"), "0403");
  EXPECT_EQ(devicesListed[0].at("serial"), "SER0");
  EXPECT_EQ(devicesListed[0].at("driver"), "ftdi_sio");
  EXPECT_EQ(devicesListed[0].at("access"), true);
  EXPECT_EQ(devicesListed[1].at("usb"), false);

  auto plain = Cli({"ports", "--dev-root", machine.dev(), "--sys-root", machine.sys()});
  ASSERT_EQ(plain->WaitForExit(10s), 0);
  EXPECT_NE(plain->Output().find("COM1 = " + machine.Path("ttyUSB0")), std::string::npos) << plain->Output();
  EXPECT_NE(plain->Output().find("usb:0403:6001:SER0"), std::string::npos) << plain->Output();
}

// An image path of any length, and a file name that is not UTF-8, reach the
// JSON lines and the log whole and as valid JSON: the readable name, and its
// exact bytes beside it in image.path_hex.
TEST_F(CliRunTest, LongAndOddImagePathsStayValidJson) {
  MakeImage(300, 43);
  std::string longPath = dir.path().string();
  while (longPath.size() < 2010 - 220) longPath += "/" + std::string(200, 'd');
  std::filesystem::create_directories(longPath);
  longPath += "/" + std::string(2010 - longPath.size() - 5, 'i') + ".UPL";
  ASSERT_EQ(longPath.size(), 2010u);
  const std::string oddPath = dir.File("image-\xFF\xC0\xAF.UPL");
  std::filesystem::copy_file(image(), longPath);
  std::filesystem::copy_file(image(), oddPath);

  const std::string port = StartDevice({"--baud", "0", "--runs", "2"});
  for (const std::string& path : {longPath, oddPath}) {
    auto cli = Cli({"program", "--json", "--log", dir.File("odd.log"), port, path});
    ASSERT_EQ(cli->WaitForExit(30s), 0) << cli->Errors();
    EXPECT_EQ(cli->Errors().find("could not be written"), std::string::npos) << cli->Errors();
    const auto results = Events(cli->JsonLines(), "result");
    ASSERT_EQ(results.size(), 1u) << cli->Output();
    EXPECT_EQ(results[0].at("outcome"), "success");
    EXPECT_EQ(results[0].at("path"), port);
  }
  EXPECT_EQ(devices[0]->WaitForExit(10s), 0);

  const auto log = EndRecords(LogRecords(dir.File("odd.log")));
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].at("image").at("path"), longPath);
  EXPECT_FALSE(log[0].at("image").contains("path_hex"));
  EXPECT_EQ(log[1].at("image").at("path"), dir.File("image-\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD.UPL"));
  std::string hex;
  for (const char c : oddPath) {
    const auto byte = static_cast<unsigned char>(c);
    hex += "0123456789abcdef"[byte >> 4];
    hex += "0123456789abcdef"[byte & 0xF];
  }
  EXPECT_EQ(log[1].at("image").at("path_hex"), hex);
  for (const auto& record : log) {
    EXPECT_EQ(record.at("outcome"), "success");
    EXPECT_EQ(record.at("path"), port);
  }
}

TEST_F(CliRunTest, UsageAndImageErrors) {
  MakeImage(100, 42);
  struct Case {
    std::vector<std::string> arguments;
    int status;
  };
  const std::vector<Case> cases = {
      {{"program", "--json", dir.File("no-port"), dir.File("missing.UPL")}, 6},
      {{"program", dir.File("no-port"), dir.File(".")}, 6},
      {{"program"}, 2},
      {{"program", "COM9", image()}, 2},
      {{"program", "usb:xyz", image()}, 2},
      {{"program", "--stall-timeout", "0", dir.File("no-port"), image()}, 2},
      {{"program", "--stall-timeout", "nan", dir.File("no-port"), image()}, 2},
      {{"station", "--stall-timeout", "-nan", dir.File("no-port"), image()}, 2},
      {{"program", "--stall-timeout", "inf", dir.File("no-port"), image()}, 2},
      {{"program", "--stall-timeout", "86400.5", dir.File("no-port"), image()}, 2},
      {{"program", "--stall-timeout", "0.1x", dir.File("no-port"), image()}, 2},
      {{"program", "--log", "", dir.File("no-port"), image()}, 2},
      {{"station", "--log=", dir.File("no-port"), image()}, 2},
      // A log that cannot be opened keeps no record: a failed log, in the system's words.
      {{"program", "--log", dir.File("no-such-folder/runs.log"), dir.File("no-port"), image()}, 7},
      {{"station", "--json", "--log", dir.File("no-such-folder/runs.log"), dir.File("no-port"), image()}, 7},
      // The parser makes "-5" of "-q5": not the image, nor a port.
      {{"program", dir.File("no-port"), image(), "-q5"}, 2},
      {{"station", image()}, 2},
      {{"station", dir.File("a"), dir.File("a"), image()}, 2},
      // A name that stands for nothing is refused unless the station waits for it (--loop).
      {{"station", "--dev-root", dir.File("."), "no-such-by-id-name", image()}, 2},
      {{"station", "--dev-root", dir.File("."), "usb:0403:6001:NONE", image()}, 2},
      {{"station", "--loop", "--dev-root", dir.File("."), "no-such-name", "no-such-name", image()}, 2},
      {{"frobnicate"}, 2},
      {{"--version"}, 0},
  };
  for (const Case& each : cases) {
    auto cli = Cli(each.arguments);
    EXPECT_EQ(cli->WaitForExit(10s), each.status) << each.arguments.front() << " " << each.arguments.back() << "\n"
                                                   << cli->Errors();
    const bool logOption = each.arguments.size() > 2 && each.arguments[1].rfind("--log", 0) == 0;
    const bool stallOption = each.arguments.size() > 2 && each.arguments[1] == "--stall-timeout";
    if (each.status == 2 && (logOption || stallOption)) {
      EXPECT_NE(cli->Errors().find(logOption ? "--log" : "--stall-timeout"),
                std::string::npos)
          << "the refusal names the option: " << cli->Errors();
    }
    if (each.status == 7) {
      EXPECT_TRUE(cli->Output().empty()) << cli->Output();
      EXPECT_NE(cli->Errors().find(dir.File("no-such-folder/runs.log") + ": " + std::strerror(ENOENT)),
                std::string::npos)
          << cli->Errors();
    }
    if (each.status == 6) {
      EXPECT_TRUE(cli->Output().empty()) << cli->Output();
      EXPECT_NE(cli->Errors().find("tarnwick-cli: "), std::string::npos);
    }
  }
}

// The manual page is made from --help-all and --version: every option of
// every command must be there, under that command's heading, and the version
// line must name the program.
TEST_F(CliRunTest, HelpAllHoldsEveryOptionOfEveryCommand) {
  auto all = Cli({"--help-all"});
  ASSERT_EQ(all->WaitForExit(10s), 0);
  const std::string page = all->Output();
  for (const std::string command : {"ports", "program", "station"}) {
    auto one = Cli({command, "--help"});
    ASSERT_EQ(one->WaitForExit(10s), 0);
    // A command's part: its heading, its description, a blank line, its entries.
    const std::size_t heading = page.find("tarnwick-cli " + command + " [OPTIONS]");
    ASSERT_NE(heading, std::string::npos) << page;
    const std::size_t entries = page.find("\n\n", heading);
    ASSERT_NE(entries, std::string::npos);
    const std::string part = page.substr(heading, page.find("\n\n", entries + 2) - heading);
    int options = 0;
    for (const std::string& line : one->Lines()) {
      if (line.rfind("  -", 0) != 0 || line.find("--help") != std::string::npos) continue;
      const std::string names = line.substr(2, line.find(' ', 2) - 2);
      EXPECT_NE(part.find("  " + names), std::string::npos) << command << ": " << names << "\n" << part;
      ++options;
    }
    EXPECT_GT(options, 0) << command;
  }
  EXPECT_NE(page.find("Exit status:"), std::string::npos);

  auto version = Cli({"--version"});
  ASSERT_EQ(version->WaitForExit(10s), 0);
  EXPECT_EQ(version->Output().rfind("tarnwick-cli 1.", 0), 0u) << version->Output();
}

}  // namespace
}  // namespace tarnwick::cli
