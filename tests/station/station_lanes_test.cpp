// A station of three lanes built on the library alone, no front end: each
// lane against a simulated device on a pseudo-terminal, and what the
// station's observer heard of them.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "device_process.h"
#include "station.h"
#include "temp_dir.h"

namespace tarnwick::station {
namespace {

using namespace std::chrono_literals;

// Everything the station says, by the path of the lane's port.
struct Heard final : StationObserver {
  struct LaneLog {
    std::vector<std::string> statuses;
    std::uint32_t lastSent = 0, lastTotal = 0;
    int started = 0;
    std::vector<RunResult> results;
    std::vector<std::string> messages;
  };
  std::map<std::string, LaneLog> lanes;

  static std::string PathOf(const Lane& lane) { return lane.targets().front().path; }
  void Status(const Lane& lane, const char* text) override { lanes[PathOf(lane)].statuses.emplace_back(text); }
  void Progress(const Lane& lane, std::uint32_t sent, std::uint32_t total) override {
    lanes[PathOf(lane)].lastSent = sent;
    lanes[PathOf(lane)].lastTotal = total;
  }
  void Message(const Lane& lane, const char* text, MessageIcon) override {
    lanes[PathOf(lane)].messages.emplace_back(text);
  }
  void Started(const Lane& lane, const RunStart& start) override {
    ++lanes[PathOf(lane)].started;
    EXPECT_EQ(start.target, lane.current());
  }
  void Result(const Lane& lane, const RunResult& result) override { lanes[PathOf(lane)].results.push_back(result); }
};

PortTarget TargetAt(const std::string& path) {
  PortTarget target;
  target.label = target.path = path;
  return target;
}

TEST(StationOfThreeLanes, EachLaneProgramsItsOwnDeviceAndTellsTheObserver) {
  testing::TempDir dir;
  const auto raw = testing::RandomBytes(2000, 7);
  testing::WriteBytes(dir.File("raw.bin"), raw);
  const std::string pack = std::string(TARNWICK_PACK) + " " + dir.File("raw.bin") + " " + dir.File("IMAGE.UPL");
  ASSERT_EQ(std::system(pack.c_str()), 0);
  const std::vector<std::string> good = {"--baud", "0", "--runs", "1", "--expect", dir.File("raw.bin")};
  testing::DeviceProcess first(TARNWICK_DEVICE, good);
  testing::DeviceProcess second(TARNWICK_DEVICE, good);
  std::vector<std::string> failing = good;
  failing.insert(failing.end(), {"--status", "5"});
  testing::DeviceProcess third(TARNWICK_DEVICE, failing);
  const std::string paths[] = {first.serialPath(), second.serialPath(), third.serialPath()};

  Heard heard;
  LaneSettings settings;
  Station station(settings, heard);
  for (const std::string& path : paths) station.AddLane({TargetAt(path)});
  std::string error, warning;
  ASSERT_TRUE(station.Load(dir.File("IMAGE.UPL"), error, warning)) << error;
  EXPECT_EQ(station.image().bytes, 2000u);
  EXPECT_EQ(station.image().fileBytes, 2000u);
  EXPECT_TRUE(warning.empty());

  const std::atomic<bool> stop{false};
  RunLoop(station, stop, 5ms, [] {});

  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(paths[i]);
    const Heard::LaneLog& log = heard.lanes[paths[i]];
    // The engine scans the lane's port by its path, and says so.
    ASSERT_FALSE(log.statuses.empty());
    EXPECT_EQ(log.statuses.front(), "Connect " + paths[i] + " -");
    EXPECT_EQ(log.started, 1);
    EXPECT_EQ(log.lastSent, 2000u);
    EXPECT_EQ(log.lastTotal, 2000u);
    ASSERT_EQ(log.results.size(), 1u);
    const RunResult& result = log.results.front();
    EXPECT_EQ(result.target, &station.lanes()[static_cast<std::size_t>(i)]->targets().front());
    EXPECT_EQ(result.sent, 2000u);
    if (i < 2) {
      EXPECT_EQ(result.outcome, RunOutcome::Success);
      EXPECT_EQ(result.deviceStatus, std::optional<std::uint8_t>(0));
      EXPECT_EQ(log.messages, std::vector<std::string>{kTextSucceeded});
    } else {
      EXPECT_EQ(result.outcome, RunOutcome::Failure);
      EXPECT_EQ(result.deviceStatus, std::optional<std::uint8_t>(5));
    }
  }
  EXPECT_EQ(station.lanes()[0]->programmed(), 1u);
  EXPECT_EQ(station.lanes()[2]->failed(), 1u);
  EXPECT_EQ(first.WaitForExit(10s), 0);
  EXPECT_EQ(second.WaitForExit(10s), 0);
}

TEST(StationOfThreeLanes, PortThatCannotOpenIsNamedByItsPathAndTried) {
  testing::TempDir dir;
  testing::WriteBytes(dir.File("raw.bin"), testing::RandomBytes(300, 3));
  const std::string pack = std::string(TARNWICK_PACK) + " " + dir.File("raw.bin") + " " + dir.File("IMAGE.UPL");
  ASSERT_EQ(std::system(pack.c_str()), 0);
  const std::string missing = dir.File("no-such-port");

  Heard heard;
  Station station(LaneSettings{}, heard);
  const Lane& lane = station.AddLane({TargetAt(missing)});
  std::string error, warning;
  ASSERT_TRUE(station.Load(dir.File("IMAGE.UPL"), error, warning)) << error;
  const std::atomic<bool> stop{false};
  RunLoop(station, stop, 1ms, [] {});

  const Heard::LaneLog& log = heard.lanes[missing];
  ASSERT_FALSE(log.statuses.empty());
  EXPECT_EQ(log.statuses.front(), "Error Open " + missing + " !");
  ASSERT_EQ(log.results.size(), 1u);
  EXPECT_EQ(log.results.front().outcome, RunOutcome::NoDevice);
  EXPECT_FALSE(log.results.front().deviceStatus.has_value());
  const std::vector<TriedPort> tried = lane.TriedPorts();
  ASSERT_EQ(tried.size(), 1u);
  ASSERT_NE(tried.front().open, nullptr);
  EXPECT_TRUE(tried.front().open->tried);
  EXPECT_FALSE(tried.front().open->opened);
  EXPECT_NE(std::string(tried.front().open->error.data()).find(missing), std::string::npos);
}

}  // namespace
}  // namespace tarnwick::station
