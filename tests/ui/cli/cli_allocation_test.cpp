// Once a device is being served, a tick of the station loop allocates
// nothing: not the engines, not the checks of how runs end, not the JSON
// lines or the live display, not the output queues or their writers.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>

#include "cli_options.h"
#include "counting_new.h"
#include "device_process.h"
#include "fake_machine.h"
#include "json_line.h"
#include "reporter.h"
#include "station.h"
#include "temp_dir.h"


namespace tarnwick::cli {
namespace {

using station::LaneSettings;
using station::Station;
using testing::allocations;
using testing::counting;

using namespace std::chrono_literals;

// Counts from the first block served to the end of the run.
class CountingObserver final : public station::StationObserver {
 public:
  explicit CountingObserver(Reporter& reporter) : reporter_(reporter) {}
  void Status(const Lane& run, const char* text) override { reporter_.Status(run, text); }
  void Detail(const Lane& run, const char* detail) override { reporter_.Detail(run, detail); }
  void Progress(const Lane& run, std::uint32_t sent, std::uint32_t total) override {
    reporter_.Progress(run, sent, total);
    if (++blocks == 1) counting = true;
  }
  void Message(const Lane& run, const char* text, MessageIcon icon) override { reporter_.Message(run, text, icon); }
  void Result(const Lane& run, const RunResult& result) override {
    reporter_.Result(run, result);
    outcomes.push_back(result.outcome);  // room reserved beforehand
    counting = false;
    // A station that loops would wait for the next devices: two runs are the test.
    if (outcomes.size() == 2 && stop != nullptr) *stop = true;
  }
  int blocks = 0;
  std::vector<RunOutcome> outcomes;
  std::atomic<bool>* stop = nullptr;

 private:
  Reporter& reporter_;
};

// With `longNames`, the first port's name and the image path are long and
// not UTF-8, and the lines are sized beforehand from the arguments, as
// tarnwick-cli sizes them.
void RunTwoPorts(bool json, bool loop = false, bool longNames = false) {
  testing::TempDir dir;
  const auto raw = testing::RandomBytes(3000, 51);
  testing::WriteBytes(dir.File("raw.bin"), raw);
  const std::string pack = std::string(TARNWICK_PACK) + " " + dir.File("raw.bin") + " " + dir.File("IMAGE.UPL");
  ASSERT_EQ(std::system(pack.c_str()), 0);
  testing::DeviceProcess first(TARNWICK_DEVICE, {"--baud", "0", "--runs", "1", "--expect", dir.File("raw.bin")});
  // Looping, the second answers late, so that it is found while the first is served.
  testing::DeviceProcess second(TARNWICK_DEVICE, {"--baud", "0", "--runs", "1", "--expect", dir.File("raw.bin"),
                                                  "--answer-after", loop ? "3" : "1"});

  std::FILE* out = std::fopen(dir.File("out").c_str(), "w");
  std::FILE* err = std::fopen(dir.File("err").c_str(), "w");
  ASSERT_NE(out, nullptr);
  ASSERT_NE(err, nullptr);
  // As the program has them: queues whose writers are started before the runs.
  OutputQueue outQueue(64 * 1024, 64 * 1024, WriteToDescriptor);
  OutputQueue errQueue(16 * 1024, 32 * 1024, WriteToDescriptor);
  outQueue.Start();
  errQueue.Start();
  ReportOptions options;
  options.json = json;
  options.live = !json;
  options.out = out;
  options.err = err;
  options.outQueue = &outQueue;
  options.errQueue = &errQueue;
  ImageInfo image;
  std::string firstName;
  const std::size_t defaultCapacity = JsonLine::InitialCapacity();
  if (longNames) {
    image.path = "/images/" + std::string(3000, '\xFF') + ".UPL";
    firstName = std::string(2500, '\x01');
    CommandLine line;
    line.stationArguments = {firstName, image.path};
    JsonLine::SetInitialCapacity(LongestJsonLine(line));
  }
  std::string error;
  Reporter reporter(options, std::chrono::steady_clock::now(), image);
  CountingObserver observer(reporter);
  observer.outcomes.reserve(8);
  LaneSettings settings;
  PortTarget a, b;
  a.label = a.path = first.serialPath();
  if (longNames) a.label = firstName;
  b.label = b.path = second.serialPath();
  // Looping, each port is named by its adapter's stable name, which is
  // followed again (and its serial number read again) when its device answers.
  testing::FakeMachine machine;
  if (loop) {
    settings.loop = true;
    settings.tree = {machine.dev(), machine.sys(), {}};
    testing::UsbAdapter adapterA = testing::Adapter("ttyUSB0", "AAA");
    testing::UsbAdapter adapterB = testing::Adapter("ttyUSB1", "BBB");
    adapterA.linkTo = a.path;
    adapterB.linkTo = b.path;
    const std::string byIdA = machine.AddUsbAdapter(adapterA, 1);
    const std::string byIdB = machine.AddUsbAdapter(adapterB, 2);
    std::vector<PortTarget> targets;
    ASSERT_TRUE(ResolvePorts({byIdA, byIdB}, settings.tree, targets, error)) << error;
    ASSERT_EQ(targets.size(), 2u);
    ASSERT_FALSE(targets[1].sysDevice.empty());
    a = targets[0];
    b = targets[1];
  }
  Station station(settings, observer);
  station.AddLane({a});
  station.AddLane({b});
  std::string warning;
  ASSERT_TRUE(station.Load(dir.File("IMAGE.UPL"), error, warning)) << error;
  if (!longNames) image = station.image();
  // The JSON lines with the run log: its records are written from the tick.
  if (json) {
    ASSERT_TRUE(station.OpenLog(dir.File("runs.log"), error)) << error;
  }
  reporter.Watch(station.lanes());
  std::atomic<bool> stop{false};
  if (loop) observer.stop = &stop;

  allocations = 0;
  station::RunLoop(station, stop, 3ms, [&] { reporter.AfterTick(); });
  counting = false;
  EXPECT_TRUE(outQueue.Finish(std::chrono::seconds(5)));
  EXPECT_TRUE(errQueue.Finish(std::chrono::seconds(5)));
  JsonLine::SetInitialCapacity(defaultCapacity);
  std::fclose(out);
  std::fclose(err);
  const auto written = testing::ReadBytes(dir.File("out"));
  const std::string text(written.begin(), written.end());
  EXPECT_NE(text.find(json ? "\"outcome\":\"success\"" : "success, 3000 of 3000 bytes"), std::string::npos) << text;
  // Lines of tens of kilobytes, a tick every 3 ms, may fill the queue: leaving
  // progress out is then what it is for. Short lines never should.
  if (!longNames) {
    EXPECT_EQ(outQueue.coalesced(), 0u);
  }

  ASSERT_EQ(observer.outcomes.size(), 2u);
  EXPECT_EQ(observer.outcomes[0], RunOutcome::Success);
  EXPECT_EQ(observer.outcomes[1], RunOutcome::Success);
  EXPECT_GE(observer.blocks, 2 * 24);
  EXPECT_EQ(allocations, 0) << (json ? "JSON lines" : "live lines");
  if (json) {
    const auto records = testing::ReadBytes(dir.File("runs.log"));
    EXPECT_EQ(std::count(records.begin(), records.end(), '\n'), 4) << "a start and an end record for each run";
  }
  EXPECT_EQ(first.WaitForExit(10s), 0);
  EXPECT_EQ(second.WaitForExit(10s), 0);
}

TEST(StationTickAllocation, NoneWhileServingWithJsonLines) { RunTwoPorts(true); }
TEST(StationTickAllocation, NoneWhileServingWithLiveLines) { RunTwoPorts(false); }
TEST(StationTickAllocation, NoneWhileServingInALoop) { RunTwoPorts(true, true); }
TEST(StationTickAllocation, NoneWithLongNamesOnceTheLinesAreSized) { RunTwoPorts(true, false, true); }

}  // namespace
}  // namespace tarnwick::cli
