// tarnwick-device run as a program on a real pseudo-terminal, against a host
// scripted in the test.
#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <bit>
#include <cerrno>
#include <filesystem>

#include "device_tool_harness.h"

namespace tarnwick::testing {
namespace {

// A device started with `arguments` and a host opened on its line.
struct Session {
  TempDir dir;
  DeviceTool device;
  std::string path;
  ScriptedHost host;

  explicit Session(const std::vector<std::string>& arguments)
      : device(arguments, dir), path(device.serialPath()), host(path) {
    EXPECT_EQ(path.rfind("/dev/pts/", 0), 0u) << path << device.Errors();
  }
};

TEST(TarnwickDeviceToolTest, ReceivesAWholeImageWritesItAndComparesIt) {
  TempDir files;
  Bytes raw = RandomBytes(1000, 21);
  WriteBytes(files.File("raw.bin"), raw);
  Session session({"--baud", "0", "--runs", "2", "--expect", files.File("raw.bin"), "--out", files.File("got")});
  EXPECT_EQ(session.host.ServeUntilResult(raw), 0x00);
  raw[345] ^= 0x80;  // the device cannot tell: it checks only the frames
  EXPECT_EQ(session.host.ServeUntilResult(raw), 0x00);

  EXPECT_EQ(session.device.WaitForExit(), 1) << session.device.Output() << session.device.Errors();
  EXPECT_TRUE(session.device.Said("run 1: 1000 bytes received whole, result 0")) << session.device.Output();
  EXPECT_TRUE(session.device.Said("run 1: image equals"));
  EXPECT_TRUE(session.device.Said("run 2: image differs from " + files.File("raw.bin") +
                                  ": 1000 bytes received, 1000 expected, first difference at byte 345"));
  EXPECT_EQ(ReadBytes(files.File("got.2")), raw);
  raw[345] ^= 0x80;
  EXPECT_EQ(ReadBytes(files.File("got")), raw);
}

TEST(TarnwickDeviceToolTest, AsksAgainAfterABadBlockAndAfterATimeOut) {
  const Bytes raw = RandomBytes(300, 22);
  Session session({"--baud", "0", "--runs", "1", "-v"});
  ScriptedHost& host = session.host;
  host.Send(Handshake());
  EXPECT_EQ(host.NextFrame(), Request(0));
  Bytes corrupted = Block(raw, 0, 0);
  corrupted[70] ^= 0x10;
  host.Send(corrupted);
  EXPECT_EQ(host.NextFrame(), Request(0));
  host.Send(Block(raw, 0, 0));
  EXPECT_EQ(host.NextFrame(), Request(1));

  // No answer: the same block is asked for again after the time-out (1 s unpaced).
  const auto asked = steady_clock::now();
  EXPECT_EQ(host.NextFrame(), Request(1));
  EXPECT_GE(steady_clock::now() - asked, 900ms);
  host.Send(Block(raw, 1, 1));
  EXPECT_EQ(host.NextFrame(), Request(2));
  host.Send(Block(raw, 2, 2));
  EXPECT_EQ(host.NextFrame(), Result(0));
  EXPECT_EQ(session.device.WaitForExit(), 0);
  const std::string log = session.device.Errors();
  EXPECT_NE(log.find("<- block 0 (128 bytes) bad checksum"), std::string::npos) << log;
  EXPECT_NE(log.find("-- no block 1 within 1000 ms"), std::string::npos) << log;
}

TEST(TarnwickDeviceToolTest, GivesUpWithStatusTwoAndExitsOne) {
  const Bytes raw = RandomBytes(500, 23);
  Session session({"--baud", "0", "--runs", "1"});
  session.host.Send(Handshake());
  Bytes corrupted = Block(raw, 0, 0);
  corrupted.back() ^= 0x01;
  for (int tries = 1; tries <= 10; ++tries) {
    ASSERT_EQ(session.host.NextFrame(), Request(0)) << "try " << tries;
    session.host.Send(corrupted);
  }
  EXPECT_EQ(session.host.NextFrame(), Result(0x02));
  EXPECT_EQ(session.device.WaitForExit(), 1);
  EXPECT_TRUE(session.device.Said("gave up on block 0 after 10 tries")) << session.device.Output();
}

TEST(TarnwickDeviceToolTest, FaultsOnTheFramesItSends) {
  Session corrupt({"--baud", "0", "--corrupt-sent", "1", "--seed", "5"});
  corrupt.host.Send(Handshake());
  const Bytes request = Request(0);
  const Bytes got = corrupt.host.NextBytes(request.size());
  ASSERT_EQ(got.size(), request.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(std::popcount(static_cast<std::uint8_t>(got[i] ^ request[i])), 1) << "byte " << i;
  }

  Session drop({"--baud", "0", "--drop-sent", "1", "-v"});
  drop.host.Send(Handshake());
  EXPECT_TRUE(drop.host.NextBytes(1, 300ms).empty());
  EXPECT_NE(drop.device.Errors().find("-> request 0"), std::string::npos) << "the device did ask";
}

TEST(TarnwickDeviceToolTest, HangsUpAfterTheGoodBlocksOfARunAndExitsOne) {
  Session session({"--baud", "0", "--hang-up-after", "2"});
  ScriptedHost& host = session.host;
  // A run that ends before taking two blocks leaves the line up.
  EXPECT_EQ(host.ServeUntilResult(RandomBytes(100, 30)), 0x00);
  const Bytes raw = RandomBytes(500, 31);
  host.Send(Handshake());
  ASSERT_EQ(host.NextFrame(), Request(0));
  host.Send(Block(raw, 0, 0));
  ASSERT_EQ(host.NextFrame(), Request(1));
  host.Send(Block(raw, 1, 1));

  // The host's end hangs up as with a pulled adapter: nothing more to read, writes fail.
  pollfd entry{host.fd(), POLLIN, 0};
  ASSERT_EQ(poll(&entry, 1, 5000), 1);
  EXPECT_NE(entry.revents & POLLHUP, 0) << entry.revents;
  std::uint8_t byte = 0;
  errno = 0;
  const ssize_t got = read(host.fd(), &byte, 1);
  EXPECT_TRUE(got == 0 || (got == -1 && errno == EIO)) << got << " " << errno;
  errno = 0;
  EXPECT_EQ(write(host.fd(), &byte, 1), -1);
  EXPECT_EQ(errno, EIO);

  EXPECT_EQ(session.device.WaitForExit(), 1);
  EXPECT_TRUE(session.device.Said("run 1: 100 bytes received whole")) << session.device.Output();
  EXPECT_TRUE(session.device.Said("run 2: cut short, the line hung up after 2 good blocks"));
}

TEST(TarnwickDeviceToolTest, PacesTheLineAt4800Baud) {
  const Bytes raw = RandomBytes(100, 25);
  Session session({"--runs", "1"});
  session.host.Send(Handshake());
  ASSERT_EQ(session.host.NextFrame(), Request(0));
  const auto sent = steady_clock::now();
  session.host.Send(Block(raw, 0, 0));
  EXPECT_EQ(session.host.NextFrame(), Result(0));
  // 105 bytes in and 6 out at 2.083 ms a byte.
  EXPECT_GE(steady_clock::now() - sent, 220ms);
  EXPECT_EQ(session.device.WaitForExit(), 0);
}

TEST(TarnwickDeviceToolTest, TheHostMayCloseAndReopenBetweenRuns) {
  Session session({"--baud", "0", "--runs", "2"});
  ASSERT_EQ(ioctl(session.host.fd(), TIOCEXCL), 0);  // as the host's serial backend does
  EXPECT_EQ(session.host.ServeUntilResult(RandomBytes(150, 26)), 0x00);
  session.host.Close();

  std::this_thread::sleep_for(400ms);
  ScriptedHost again(session.path);
  ASSERT_GE(again.fd(), 0);
  int exclusive = 1;
  ASSERT_EQ(ioctl(again.fd(), TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 0) << "a host that is not root could not open the line again";
  EXPECT_EQ(again.ServeUntilResult(RandomBytes(40, 27)), 0x00);
  EXPECT_EQ(session.device.WaitForExit(), 0) << session.device.Output();
}

TEST(TarnwickDeviceToolTest, TheLinkGoesWithTheDeviceAndACutRunFailsTheExit) {
  TempDir dir;
  const std::string link = dir.File("ttyDEVICE");
  Session session({"--link", link, "--baud", "0"});
  EXPECT_EQ(std::filesystem::read_symlink(link), session.path);
  session.host.Send(Handshake());
  ASSERT_EQ(session.host.NextFrame(), Request(0));

  session.device.Signal(SIGTERM);
  EXPECT_EQ(session.device.WaitForExit(), 1);
  EXPECT_TRUE(session.device.Said("run 1: cut short"));
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

TEST(TarnwickDeviceToolTest, ServesAPortGivenOnTheCommandLine) {
  // A pseudo-terminal made here stands in for a serial port: the device opens
  // its serial end as PORT, the host talks on the other end.
  const int hostEnd = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_TRUE(hostEnd >= 0 && grantpt(hostEnd) == 0 && unlockpt(hostEnd) == 0);
  ScriptedHost host(hostEnd);
  const std::string port = ptsname(hostEnd);
  TempDir dir;
  DeviceTool device({"--runs", "1", port}, dir);
  EXPECT_EQ(device.serialPath(), port);
  EXPECT_EQ(host.ServeUntilResult(RandomBytes(260, 29)), 0x00);
  EXPECT_EQ(device.WaitForExit(), 0) << device.Output() << device.Errors();
}

TEST(TarnwickDeviceToolTest, BadArgumentsExitTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {"--bogus"},       {"--baud", "fast"}, {"--status", "256"},           {"--corrupt", "1.5"}, {"--answer-after", "0"},
      {"--runs"},        {"a", "b"},         {"--link", "x", "/dev/ttyS0"}, {"--expect", "/nonexistent/raw.bin"},
      {"--drop-sent", "2"}, {"--hang-up-after", "x"}, {"-vx"},     {"--baud", "1", "--baud", "2"},
  };
  for (const auto& arguments : cases) {
    TempDir dir;
    DeviceTool device(arguments, dir);
    EXPECT_EQ(device.WaitForExit(), 2) << arguments[0];
    EXPECT_EQ(device.Errors().rfind("tarnwick-device: ", 0), 0u) << arguments[0];
    if (arguments[0] == "--expect") continue;  // refused when read, not when parsed
    EXPECT_NE(device.Errors().find("\nusage: tarnwick-device [options] [PORT]\n"), std::string::npos) << arguments[0];
  }
  TempDir dir;
  // Help and version win over a wrong value wherever they stand, short flags go together.
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"--help"}, {"--baud", "fast", "--help"}, {"-vh"}}) {
    DeviceTool help(arguments, dir);
    EXPECT_EQ(help.WaitForExit(), 0);
    const std::string text = help.Output();
    EXPECT_EQ(text.rfind("usage: tarnwick-device [options] [PORT]\n", 0), 0u) << text;
    for (const char* listed : {"\n  --hang-up-after N  ", "\n  -v, --verbose ", "\n  --version ", "\nExit status: "}) {
      EXPECT_NE(text.find(listed), std::string::npos) << listed << "\n" << text;
    }
  }
  DeviceTool version({"--runs", "x", "--version"}, dir);
  EXPECT_EQ(version.WaitForExit(), 0);
  EXPECT_EQ(version.Output(), "tarnwick-device " TARNWICK_VERSION "\n");
}

}  // namespace
}  // namespace tarnwick::testing
