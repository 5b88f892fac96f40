// What tarnwick-cli records of its runs: the image as programmed beside the
// file it came from, the device's status only where the device gave one, a
// start and an end record for each run in the log, and a log that fails
// closed when the disk will not take a record.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli_fixture.h"
#include "cli_process.h"
#include "device_process.h"
#include "run_log.h"
#include "sha256.h"
#include "temp_dir.h"

namespace tarnwick::cli {
namespace {

using station::ImageInfo;
using station::RunLog;
using station::RunStart;
using station::Sha256Hex;

using namespace std::chrono_literals;
using nlohmann::json;
using testing::CliProcess;
using testing::DeviceProcess;

std::string Digest(const std::vector<std::uint8_t>& bytes, std::size_t count) {
  return Sha256Hex(bytes.data(), std::min(count, bytes.size())).data();
}

// The lines of a file, split at each newline; `tail` gets what follows the last one.
std::vector<std::string> Lines(const std::string& path, std::string* tail = nullptr) {
  const auto bytes = testing::ReadBytes(path);
  std::vector<std::string> lines;
  std::string line;
  for (const std::uint8_t byte : bytes) {
    if (byte == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line.push_back(static_cast<char>(byte));
    }
  }
  if (tail != nullptr) {
    *tail = line;
  } else {
    EXPECT_TRUE(line.empty()) << "the last line is not whole: " << line;
  }
  return lines;
}

std::vector<json> Records(const std::string& path) {
  std::vector<json> records;
  for (const auto& line : Lines(path)) records.push_back(json::parse(line));
  return records;
}

// The JSON objects among the lines of standard error that begin with `prefix`.
std::vector<json> ErrorRecords(const std::string& errors, const std::string& prefix) {
  std::vector<json> found;
  std::size_t at = 0;
  while ((at = errors.find(prefix, at)) != std::string::npos) {
    at += prefix.size();
    const std::size_t end = errors.find('\n', at);
    found.push_back(json::parse(errors.substr(at, end - at)));
  }
  return found;
}

json LastEvent(const CliProcess& cli, const std::string& event) {
  json last;
  for (const auto& line : cli.Lines()) {
    json parsed = json::parse(line);
    if (parsed["event"] == event) last = parsed;
  }
  return last;
}

bool IsRunId(const json& value) {
  if (!value.is_string()) return false;
  const std::string text = value;
  return text.size() == 16 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

class RecordsTest : public testing::CliFixture {
 protected:
  std::vector<std::uint8_t> imageBytes() const { return testing::ReadBytes(image()); }

  // Every device here is unpaced.
  std::string StartDevice(std::vector<std::string> options) { return StartFastDevice(std::move(options)); }
};

TEST_F(RecordsTest, ImageIsRecordedAsProgrammedAndAsTheWholeFile) {
  MakeImage(1000, 61);
  const std::string log = dir.File("runs.log");
  auto whole = Cli({"program", "--json", "--log", log, dir.File("no-port"), image()});
  ASSERT_EQ(whole->WaitForExit(10s), 3) << whole->Errors();
  const json fits = LastEvent(*whole, "result")["image"];
  EXPECT_EQ(fits["path"], image());
  EXPECT_EQ(fits["bytes"], 1000);
  EXPECT_EQ(fits["file_bytes"], 1000);
  EXPECT_EQ(fits["sha256"], Digest(imageBytes(), 1000));
  EXPECT_EQ(fits["file_sha256"], fits["sha256"]);
  EXPECT_EQ(whole->Errors().find("more than an image holds"), std::string::npos) << whole->Errors();

  // A file longer than an image holds: its first 65536 bytes, and it is said.
  MakeImage(65536, 62);
  auto bytes = imageBytes();
  const auto tail = testing::RandomBytes(4464, 63);
  bytes.insert(bytes.end(), tail.begin(), tail.end());
  testing::WriteBytes(image(), bytes);
  auto longer = Cli({"program", "--json", "--log", log, dir.File("no-port"), image()});
  ASSERT_EQ(longer->WaitForExit(10s), 3) << longer->Errors();
  EXPECT_NE(longer->Errors().find(image() + " is 70000 bytes, more than an image holds: only its first 65536 bytes "
                                            "are programmed"),
            std::string::npos)
      << longer->Errors();
  const json cut = LastEvent(*longer, "result")["image"];
  EXPECT_EQ(cut["bytes"], 65536);
  EXPECT_EQ(cut["sha256"], Digest(bytes, 65536));
  EXPECT_EQ(cut["file_bytes"], 70000);
  EXPECT_EQ(cut["file_sha256"], Digest(bytes, bytes.size()));
  EXPECT_EQ(LastEvent(*longer, "result")["total"], 65536);

  const auto records = Records(log);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0]["image"], fits);
  EXPECT_EQ(records[1]["image"], cut);

  // An empty file is refused before any port is opened, and leaves the log as it was.
  testing::WriteBytes(image(), {});
  const std::string port = StartDevice({"--runs", "1"});
  auto empty = Cli({"program", "--json", "--log", log, port, image()});
  ASSERT_EQ(empty->WaitForExit(10s), 6) << empty->Errors();
  EXPECT_EQ(empty->Output(), "");  // not even the scan's first status
  EXPECT_NE(empty->Errors().find("tarnwick-cli: " + image() + " is empty (0 bytes): there is nothing to program"),
            std::string::npos)
      << empty->Errors();
  EXPECT_EQ(Records(log).size(), 2u);
  auto station = Cli({"station", "--log", dir.File("station.log"), port, image()});
  EXPECT_EQ(station->WaitForExit(10s), 6) << station->Errors();
  EXPECT_FALSE(std::filesystem::exists(dir.File("station.log")));
}

TEST_F(RecordsTest, DeviceStatusOnlyWhereTheDeviceReportedOne) {
  MakeImage(600, 64);
  const std::string log = dir.File("runs.log");
  auto none = Cli({"program", "--json", "--log", log, dir.File("no-port"), image()});
  ASSERT_EQ(none->WaitForExit(10s), 3) << none->Errors();
  EXPECT_TRUE(LastEvent(*none, "result")["device_status"].is_null()) << none->Output();

  const std::string port = StartDevice({"--status", "3"});
  auto failed = Cli({"program", "--json", "--log", log, port, image()});
  ASSERT_EQ(failed->WaitForExit(30s), 1) << failed->Errors();
  EXPECT_EQ(LastEvent(*failed, "result")["device_status"], 3);

  std::vector<json> ends;
  for (const json& record : Records(log)) {
    if (record["record"] == "end") ends.push_back(record);
  }
  ASSERT_EQ(ends.size(), 2u);
  EXPECT_EQ(ends[0]["outcome"], "no-device");
  EXPECT_TRUE(ends[0]["device_status"].is_null()) << ends[0];
  EXPECT_EQ(ends[1]["outcome"], "failure");
  EXPECT_EQ(ends[1]["device_status"], 3);
}

TEST_F(RecordsTest, EachRunHasAStartAndAnEndRecordUnderOneId) {
  MakeImage(3000, 65);
  const std::string log = dir.File("runs.log");
  const std::string port = StartDevice({});
  std::vector<std::string> results;
  for (int run = 0; run < 2; ++run) {
    auto cli = Cli({"program", "--json", "--log", log, port, image()});
    ASSERT_EQ(cli->WaitForExit(30s), 0) << cli->Errors();
    results.push_back(LastEvent(*cli, "result")["run"]);
  }
  // Killed mid-run: its start record tells of it.
  auto killed = Cli({"program", "--json", "--log", log, port, image()});
  ASSERT_TRUE(killed->WaitFor("\"sent\":640,", 20s)) << killed->Output() << killed->Errors();
  killed->Signal(SIGKILL);
  ASSERT_EQ(killed->WaitForExit(5s), 128 + SIGKILL);

  const auto records = Records(log);
  ASSERT_EQ(records.size(), 5u);
  for (std::size_t run = 0; run < 2; ++run) {
    const json& start = records[2 * run];
    const json& end = records[2 * run + 1];
    EXPECT_EQ(start["record"], "start");
    EXPECT_EQ(end["record"], "end");
    EXPECT_TRUE(IsRunId(start["run"])) << start;
    EXPECT_EQ(start["run"], end["run"]);
    EXPECT_EQ(end["run"], results[run]);
    EXPECT_EQ(start["start"], end["start"]);
    EXPECT_EQ(start["path"], port);
    EXPECT_EQ(start["image"], end["image"]);
    EXPECT_EQ(end["outcome"], "success");
  }
  EXPECT_NE(records[0]["run"], records[2]["run"]);
  EXPECT_EQ(records[4]["record"], "start");
  EXPECT_TRUE(IsRunId(records[4]["run"]));
  EXPECT_NE(records[4]["run"], records[2]["run"]);
}

TEST_F(RecordsTest, LogThatTakesNothingEndsTheRunAsItsDeviceAnswers) {
  MakeImage(3000, 66);
  const std::string port = StartDevice({"-v"});
  // Every write to /dev/full fails for want of space.
  auto cli = Cli({"program", "--json", "--log", "/dev/full", port, image()});
  ASSERT_EQ(cli->WaitForExit(10s), 7) << cli->Output() << cli->Errors();
  const json result = LastEvent(*cli, "result");
  EXPECT_EQ(result["outcome"], "interrupted");
  // Ended in the tick its device answered in, before any of the image went out.
  EXPECT_EQ(result["sent"], 0);
  const auto deviceLog = testing::ReadBytes(dir.File("device0.err"));
  const std::string frames(deviceLog.begin(), deviceLog.end());
  EXPECT_NE(frames.find("-> request"), std::string::npos) << frames;
  EXPECT_EQ(frames.find("<- block"), std::string::npos) << "a block went out before the run was recorded\n" << frames;
  const std::string errors = cli->Errors();
  EXPECT_NE(errors.find("tarnwick-cli: the run log /dev/full: cannot write to it: " + std::string(std::strerror(ENOSPC)) +
                        "; no new run starts"),
            std::string::npos)
      << errors;
  // Both records, on standard error instead.
  const auto unlogged = ErrorRecords(errors, "tarnwick-cli: not in the run log: ");
  ASSERT_EQ(unlogged.size(), 2u) << errors;
  EXPECT_EQ(unlogged[0]["record"], "start");
  EXPECT_EQ(unlogged[1]["record"], "end");
  EXPECT_EQ(unlogged[1]["run"], result["run"]);
  EXPECT_EQ(unlogged[0]["run"], result["run"]);
}

// A station whose log stops taking records mid-line, as a full disk does: the
// other run going on is ended, no next device is waited for, and the record
// torn in two is ended before the next one once the log can be written again.
TEST_F(RecordsTest, ShortWriteStopsTheStationAndTheNextRecordStartsALine) {
  MakeImage(3000, 67);
  const std::string log = dir.File("runs.log");
  // Earlier records, enough that standard error never reaches the size limit set below.
  std::string earlier;
  while (earlier.size() < 65536) earlier += "{\"record\":\"end\",\"run\":\"0000000000000000\"}\n";
  testing::WriteBytes(log, std::vector<std::uint8_t>(earlier.begin(), earlier.end()));

  const std::string stopped = StartDevice({});
  const std::string finishing = StartDevice({});
  auto cli = Cli({"station", "--loop", "--json", "--log", log, stopped, finishing, image()});
  ASSERT_TRUE(cli->WaitFor("\"sent\":640,", 20s, 2)) << cli->Output() << cli->Errors();
  devices[0]->Signal(SIGSTOP);  // its run stays going on, quiet
  const auto earlierLines = static_cast<std::size_t>(std::count(earlier.begin(), earlier.end(), '\n'));
  ASSERT_EQ(Lines(log).size(), earlierLines + 2);  // both runs' start records
  const auto size = std::filesystem::file_size(log);
  const rlimit limit{size + 40, RLIM_INFINITY};
  ASSERT_EQ(::prlimit(cli->pid(), RLIMIT_FSIZE, &limit, nullptr), 0) << std::strerror(errno);

  const int status = cli->WaitForExit(20s);
  devices[0]->Signal(SIGCONT);
  ASSERT_EQ(status, 7) << cli->Output() << cli->Errors();
  const std::string errors = cli->Errors();
  EXPECT_NE(errors.find("tarnwick-cli: the run log " + log + ": only 40 of the "), std::string::npos) << errors;
  EXPECT_NE(errors.find(std::string(std::strerror(EFBIG)) + "; no new run starts, the runs going on end now"),
            std::string::npos)
      << errors;
  std::string outcomes;
  for (const auto& line : cli->Lines()) {
    const json event = json::parse(line);
    if (event["event"] == "result") outcomes += std::string(event["path"]) + " " + std::string(event["outcome"]) + ";";
  }
  EXPECT_EQ(outcomes, finishing + " success;" + stopped + " interrupted;");
  const auto unlogged = ErrorRecords(errors, "tarnwick-cli: not in the run log: ");
  ASSERT_EQ(unlogged.size(), 2u) << errors;
  EXPECT_EQ(unlogged[0]["path"], finishing);
  EXPECT_EQ(unlogged[1]["path"], stopped);
  EXPECT_EQ(unlogged[1]["outcome"], "interrupted");

  // The log holds the first 40 bytes of the record standard error holds whole.
  std::string torn;
  auto lines = Lines(log, &torn);
  EXPECT_EQ(lines.size(), earlierLines + 2);
  const std::string prefix = "tarnwick-cli: not in the run log: ";
  EXPECT_EQ(torn, errors.substr(errors.find(prefix) + prefix.size(), 40));

  // Room again: the next record starts a line of its own.
  auto next = Cli({"program", "--json", "--log", log, dir.File("no-port"), image()});
  ASSERT_EQ(next->WaitForExit(10s), 3) << next->Errors();
  lines = Lines(log);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], torn);
  EXPECT_EQ(json::parse(lines.back())["outcome"], "no-device");
}

TEST(RunLog, OpeningEndsATornLastRecordOnly) {
  testing::TempDir dir;
  ImageInfo image;
  image.path = "IMAGE.UPL";
  RunStart start;
  for (const std::string& before : {std::string("{\"record\":\"sta"), std::string("{}\n"), std::string()}) {
    const std::string path = dir.File("log");
    testing::WriteBytes(path, std::vector<std::uint8_t>(before.begin(), before.end()));
    {
      RunLog log;
      std::string error;
      ASSERT_TRUE(log.Open(path, error)) << error;
      ASSERT_TRUE(log.AppendStart(start, image));
    }
    std::string tail;
    const auto lines = Lines(path, &tail);
    EXPECT_EQ(tail, "");
    ASSERT_EQ(lines.size(), before.empty() ? 1u : 2u) << before;
    if (!before.empty()) {
      EXPECT_EQ(lines[0] + "\n", before.back() == '\n' ? before : before + "\n");
    }
    EXPECT_EQ(json::parse(lines.back())["record"], "start");
  }
}

}  // namespace
}  // namespace tarnwick::cli
