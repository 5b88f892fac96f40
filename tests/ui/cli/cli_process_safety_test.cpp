// tarnwick-cli as a process among others: started without a standard
// output, read by a pipe that closes early or stops being read, hung up on.
// None of these may cost a run, its record or the device's port.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cli_fixture.h"
#include "cli_process.h"
#include "device_process.h"
#include "standard_streams.h"
#include "posix_serial_port.h"
#include "pty_pair.h"
#include "temp_dir.h"

namespace tarnwick::cli {
namespace {

using namespace std::chrono_literals;
using testing::CliProcess;
using testing::DeviceProcess;
using json = nlohmann::json;
using testing::ParseJson;
using testing::ParseJsonLines;

// tarnwick-cli with descriptor 1 set up by the test: `out` put there, or
// descriptor 1 left closed when `out` is negative. Standard error goes to a
// file, or to `err` when that is given.
class Started {
 public:
  Started(const std::vector<std::string>& arguments, int out, const std::string& errorsFile, int err = -1) {
    std::vector<std::string> all{TARNWICK_CLI};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : all) argv.push_back(argument.data());
    argv.push_back(nullptr);
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (::getppid() != parent) ::_exit(127);
      const int errors = err >= 0 ? err : ::open(errorsFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      if (errors < 0 || ::dup2(errors, STDERR_FILENO) < 0) ::_exit(127);
      if (out >= 0) {
        if (::dup2(out, STDOUT_FILENO) < 0) ::_exit(127);
      } else {
        ::close(STDOUT_FILENO);
      }
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
  }
  ~Started() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  // The exit status, 128 + the signal that ended it, or -1 after `limit`.
  int WaitForExit(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() >= deadline) return -1;
      std::this_thread::sleep_for(10ms);
    }
    exited_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  void Signal(int number) { ::kill(pid_, number); }

 private:
  pid_t pid_ = -1;
  bool exited_ = false;
};

struct Pipe {
  Pipe() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) == 0) {
      read = ends[0];
      write = ends[1];
    }
  }
  ~Pipe() {
    CloseRead();
    CloseWrite();
  }
  void CloseRead() {
    if (read >= 0) ::close(read);
    read = -1;
  }
  void CloseWrite() {
    if (write >= 0) ::close(write);
    write = -1;
  }
  // Everything until the end of the pipe, or what came within `limit`.
  std::string ReadAll(std::chrono::milliseconds limit) {
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd ready{read, POLLIN, 0};
      if (::poll(&ready, 1, 50) <= 0) continue;
      char buffer[8192];
      const ssize_t got = ::read(read, buffer, sizeof buffer);
      if (got <= 0) break;
      text.append(buffer, static_cast<std::size_t>(got));
    }
    return text;
  }
  int read = -1;
  int write = -1;
};

std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

std::vector<json> Events(const std::vector<std::string>& lines, const std::string& event) {
  std::vector<json> found;
  for (const auto& line : ParseJsonLines(lines)) {
    if (line.value("event", "") == event) found.push_back(line);
  }
  return found;
}

class CliProcessSafetyTest : public testing::CliFixture {
 protected:
  // Every device here is unpaced.
  std::string StartDevice(std::vector<std::string> options) { return StartFastDevice(std::move(options)); }

  // The log's end records (a run's start record comes first); every line of
  // the log must be a record.
  std::vector<json> Log(const std::string& name) const {
    const auto bytes = testing::ReadBytes(dir.File(name));
    std::vector<json> ends;
    for (const json& record : ParseJsonLines(LinesOf(std::string(bytes.begin(), bytes.end())))) {
      if (record.value("record", "") == "end") ends.push_back(record);
    }
    return ends;
  }
  std::string Errors(const std::string& name) const {
    const auto bytes = testing::ReadBytes(dir.File(name));
    return std::string(bytes.begin(), bytes.end());
  }
};

// Without descriptor 1, the log (opened first) or the port would become
// standard output and take the status texts.
TEST_F(CliProcessSafetyTest, StartedWithoutStandardOutputNothingLandsInTheLogOrOnTheLine) {
  MakeImage(700, 61);
  const std::string port = StartDevice({"--runs", "1"});
  Started logged({"program", "--log", dir.File("runs.log"), port, image()}, -1, dir.File("logged.err"));
  ASSERT_EQ(logged.WaitForExit(30s), 0) << Errors("logged.err");
  EXPECT_EQ(devices[0]->WaitForExit(10s), 0);
  const auto log = Log("runs.log");
  ASSERT_EQ(log.size(), 1u) << Errors("runs.log");
  EXPECT_EQ(log[0].at("outcome"), "success") << log[0];

  // No log: the port is the next file opened. The test plays a device that
  // never answers and watches what reaches it.
  testing::PtyPair line;
  ASSERT_TRUE(line.ok());
  Started unlogged({"program", line.slavePath(), image()}, -1, dir.File("unlogged.err"));
  std::string received;
  const auto until = std::chrono::steady_clock::now() + 1500ms;
  while (std::chrono::steady_clock::now() < until) {
    const auto bytes = line.DeviceReceives();
    received.append(bytes.begin(), bytes.end());
    std::this_thread::sleep_for(20ms);
  }
  unlogged.Signal(SIGINT);
  EXPECT_EQ(unlogged.WaitForExit(5s), 130) << Errors("unlogged.err");
  EXPECT_FALSE(received.empty()) << "the handshake must have gone out";
  EXPECT_EQ(received.find("status"), std::string::npos) << received;
  EXPECT_EQ(received.find("Connect"), std::string::npos) << received;
}

// `tarnwick-cli ... | head -n 1`: the reader goes after the first line.
TEST_F(CliProcessSafetyTest, ReaderThatGoesAwayEndsTheOutputNotTheRun) {
  MakeImage(3000, 62);
  const std::string port = StartDevice({"--runs", "1"});
  Pipe out;
  Started cli({"program", "--json", "--log", dir.File("runs.log"), port, image()}, out.write, dir.File("cli.err"));
  out.CloseWrite();
  std::string first;
  char byte = 0;
  while (first.find('\n') == std::string::npos && ::read(out.read, &byte, 1) == 1) first.push_back(byte);
  EXPECT_EQ(ParseJson(first).value("event", ""), "status") << first;
  out.CloseRead();

  EXPECT_EQ(cli.WaitForExit(30s), 0) << Errors("cli.err");
  EXPECT_EQ(devices[0]->WaitForExit(10s), 0) << "the device must have received the image whole";
  const auto log = Log("runs.log");
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].at("outcome"), "success");
  EXPECT_EQ(log[0].at("sent"), 3000);
}

// The terminal closed: the run ends as at Ctrl-C, recorded, its port free.
TEST_F(CliProcessSafetyTest, HangUpEndsTheRunWithARecordAndFreesThePort) {
  MakeImage(20000, 63);
  const std::string port = StartDevice({});
  CliProcess cli({"program", "--json", "--log", dir.File("runs.log"), port, image()}, dir.File("cli.err"));
  ASSERT_TRUE(cli.WaitFor("\"sent\":640,", 20s)) << cli.Output() << cli.Errors();
  cli.Signal(SIGHUP);
  ASSERT_EQ(cli.WaitForExit(5s), 130) << cli.Output() << cli.Errors();
  EXPECT_EQ(ParseJson(cli.Lines().back()).value("outcome", ""), "interrupted");
  const auto log = Log("runs.log");
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].at("outcome"), "interrupted");
  PortMap map;
  map.devices[0] = port;
  PosixSerialPort again(map);
  EXPECT_TRUE(again.Open("COM1")) << again.LastError();
}

// Nobody reads standard output while a station of two programs its devices:
// the pipe (made small) and then the queue fill up, and still every device is
// served on time; the progress left out is counted, no result is.
// The frame trace (-v) is written off the loop too: nobody reads standard
// error, and still the device gets every block on time.
TEST_F(CliProcessSafetyTest, UnreadFrameTraceHoldsUpNoRun) {
  MakeImage(6000, 65);  // 47 blocks, about 30 KB of trace
  const std::string port = StartDevice({"--runs", "1"});
  Pipe err;
  ASSERT_GE(::fcntl(err.write, F_SETPIPE_SZ, 4096), 4096);
  const int out = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(out, 0);
  const auto started = std::chrono::steady_clock::now();
  Started cli({"program", "-v", port, image()}, out, "", err.write);
  ::close(out);
  err.CloseWrite();
  EXPECT_EQ(devices[0]->WaitForExit(20s), 0);
  const double served = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  EXPECT_LT(served, 9.0) << "the device waited for the loop";
  const std::string trace = err.ReadAll(20s);
  EXPECT_EQ(cli.WaitForExit(10s), 0);
  EXPECT_NE(trace.find(port + " > cc dd 00 7f"), std::string::npos) << trace.substr(0, 2000);
}

TEST_F(CliProcessSafetyTest, UnreadStandardOutputHoldsUpNoRun) {
  MakeImage(6000, 64);  // 47 blocks: about 5 s
  // Long port names make every event long, so the queue fills within a second.
  std::filesystem::path folder = dir.path();
  for (char name : {'a', 'b', 'c'}) folder /= std::string(240, name);
  std::filesystem::create_directories(folder);
  const std::string first = (folder / "first").string(), second = (folder / "second").string();
  StartDevice({"--runs", "1", "--link", first});
  StartDevice({"--runs", "1", "--link", second});

  Pipe out;
  ASSERT_GE(::fcntl(out.write, F_SETPIPE_SZ, 4096), 4096);
  const auto started = std::chrono::steady_clock::now();
  Started cli({"station", "--json", "--log", dir.File("runs.log"), first, second, image()}, out.write,
              dir.File("cli.err"));
  out.CloseWrite();
  // Each device exits once it has received the image whole, or given up.
  EXPECT_EQ(devices[0]->WaitForExit(20s), 0);
  EXPECT_EQ(devices[1]->WaitForExit(20s), 0);
  const double served = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  EXPECT_LT(served, 9.0) << "a device waited for the loop";
  // The records are written as the runs end, whether or not anyone reads.
  const auto recorded = std::chrono::steady_clock::now() + 2s;
  while (Log("runs.log").size() < 2 && std::chrono::steady_clock::now() < recorded) std::this_thread::sleep_for(20ms);
  EXPECT_EQ(Log("runs.log").size(), 2u);

  const std::string output = out.ReadAll(20s);
  ASSERT_EQ(cli.WaitForExit(10s), 0) << Errors("cli.err");
  const auto lines = LinesOf(output);
  const auto results = Events(lines, "result");
  ASSERT_EQ(results.size(), 2u) << output.substr(output.size() > 4000 ? output.size() - 4000 : 0);
  for (const auto& result : results) EXPECT_EQ(result.at("outcome"), "success");
  EXPECT_EQ(Events(lines, "summary").size(), 2u);
  const auto coalesced = Events(lines, "coalesced");
  ASSERT_EQ(coalesced.size(), 1u);
  const auto count = coalesced[0].at("events").get<unsigned long>();
  EXPECT_GT(count, 20u);
  EXPECT_NE(Errors("cli.err").find(std::to_string(count) + " progress and status events coalesced"),
            std::string::npos)
      << Errors("cli.err");
  // Whatever was written is whole lines, in order.
  for (const auto& line : lines) {
    EXPECT_EQ(line.front(), '{');
    EXPECT_EQ(line.back(), '}');
  }
}

// The queue on its own, against a pipe nobody reads: pieces that may be
// coalesced stop at the shared room, kept ones take the reserve and then
// the list that grows; none of it waits, and all kept pieces come out in order.
TEST(OutputQueue, KeptPiecesOutliveAFullQueueInOrder) {
  Pipe pipe;
  ASSERT_GE(::fcntl(pipe.write, F_SETPIPE_SZ, 4096), 4096);
  OutputQueue queue(8 * 1024, 4 * 1024, WriteToDescriptor);
  queue.Start();
  const std::string filler(500, 'p');
  int left = 0;
  const auto began = std::chrono::steady_clock::now();
  for (int i = 0; i < 200; ++i) {
    if (!queue.Push(pipe.write, (filler + "\n").data(), filler.size() + 1, Piece::Coalescible)) ++left;
  }
  std::vector<std::string> kept;
  for (int i = 0; i < 40; ++i) {
    kept.push_back("kept " + std::to_string(i) + " " + std::string(300, 'k') + "\n");
    EXPECT_TRUE(queue.Push(pipe.write, kept.back().data(), kept.back().size(), Piece::Kept));
  }
  EXPECT_FALSE(queue.Push(pipe.write, "late\n", 5, Piece::Coalescible)) << "behind the grown list";
  EXPECT_LT(std::chrono::steady_clock::now() - began, 1s);
  EXPECT_EQ(queue.coalesced(), static_cast<std::uint64_t>(left + 1));
  EXPECT_GT(left, 150);
  EXPECT_GT(queue.overflowed(), 0u);

  std::string got;
  std::thread reader([&] { got = pipe.ReadAll(10s); });
  EXPECT_TRUE(queue.Finish(5s));
  pipe.CloseWrite();
  reader.join();
  std::size_t at = 0;
  for (const auto& piece : kept) {
    const std::size_t found = got.find(piece, at);
    ASSERT_NE(found, std::string::npos) << piece.substr(0, 8);
    at = found + piece.size();
  }
  EXPECT_EQ(got.find("late"), std::string::npos);

  // A reader that went away ends that output; the queue goes on.
  Pipe gone;
  gone.CloseRead();
  OutputQueue other(1024, 1024, WriteToDescriptor);
  other.Start();
  signal(SIGPIPE, SIG_IGN);
  EXPECT_TRUE(other.Push(gone.write, "x\n", 2, Piece::Kept));
  EXPECT_TRUE(other.Finish(5s));
  EXPECT_TRUE(other.ended(gone.write));
}

}  // namespace
}  // namespace tarnwick::cli
