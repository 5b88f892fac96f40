// Once a device is being served, a tick of the station loop allocates
// nothing: not the engines, not the checks of how runs end, not the JSON
// lines or the live display.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>

#include "cli_options.h"
#include "counting_new.h"
#include "device_process.h"
#include "json_line.h"
#include "reporter.h"
#include "station.h"
#include "temp_dir.h"


namespace tarnwick::cli {
namespace {

using testing::allocations;
using testing::counting;

using namespace std::chrono_literals;

// Counts from the first block served to the end of the run.
class CountingObserver final : public RunObserver {
 public:
  explicit CountingObserver(Reporter& reporter) : reporter_(reporter) {}
  void Status(const PortRun& run, const char* text) override { reporter_.Status(run, text); }
  void Detail(const PortRun& run, const char* detail) override { reporter_.Detail(run, detail); }
  void Progress(const PortRun& run, std::uint32_t sent, std::uint32_t total) override {
    reporter_.Progress(run, sent, total);
    if (++blocks == 1) counting = true;
  }
  void Message(const PortRun& run, const char* text, MessageIcon icon) override { reporter_.Message(run, text, icon); }
  void Result(const PortRun& run, const RunResult& result) override {
    reporter_.Result(run, result);
    outcomes.push_back(result.outcome);  // room reserved beforehand
    counting = false;
  }
  int blocks = 0;
  std::vector<Outcome> outcomes;

 private:
  Reporter& reporter_;
};

// With `longNames`, the first port's name and the image path are long and
// not UTF-8, and the lines are sized beforehand from the arguments, as
// tarnwick-cli sizes them.
void RunTwoPorts(bool json, bool longNames = false) {
  testing::TempDir dir;
  const auto raw = testing::RandomBytes(3000, 51);
  testing::WriteBytes(dir.File("raw.bin"), raw);
  const std::string pack = std::string(TARNWICK_PACK) + " " + dir.File("raw.bin") + " " + dir.File("IMAGE.UPL");
  ASSERT_EQ(std::system(pack.c_str()), 0);
  testing::DeviceProcess first(TARNWICK_DEVICE, {"--baud", "0", "--runs", "1", "--expect", dir.File("raw.bin")});
  testing::DeviceProcess second(TARNWICK_DEVICE, {"--baud", "0", "--runs", "1", "--expect", dir.File("raw.bin")});

  std::FILE* out = std::fopen(dir.File("out").c_str(), "w");
  std::FILE* err = std::fopen(dir.File("err").c_str(), "w");
  ASSERT_NE(out, nullptr);
  ASSERT_NE(err, nullptr);
  ReportOptions options;
  options.json = json;
  options.live = !json;
  options.out = out;
  options.err = err;
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
  Reporter reporter(options, std::chrono::steady_clock::now(), image, nullptr);
  CountingObserver observer(reporter);
  observer.outcomes.reserve(8);
  RunSettings settings;
  PortTarget a, b;
  a.label = a.path = first.serialPath();
  if (longNames) a.label = firstName;
  b.label = b.path = second.serialPath();
  PortRun runA({a}, settings, observer);
  PortRun runB({b}, settings, observer);
  std::string message;
  ASSERT_TRUE(runA.Load(dir.File("IMAGE.UPL"), message)) << message;
  ASSERT_TRUE(runB.Load(dir.File("IMAGE.UPL"), message)) << message;
  reporter.Watch({&runA, &runB});
  const std::atomic<bool> stop{false};

  allocations = 0;
  RunLoop({&runA, &runB}, stop, 3ms, [&] { reporter.AfterTick(); });
  counting = false;
  JsonLine::SetInitialCapacity(defaultCapacity);
  std::fclose(out);
  std::fclose(err);

  ASSERT_EQ(observer.outcomes.size(), 2u);
  EXPECT_EQ(observer.outcomes[0], Outcome::Success);
  EXPECT_EQ(observer.outcomes[1], Outcome::Success);
  EXPECT_GE(observer.blocks, 2 * 24);
  EXPECT_EQ(allocations, 0) << (json ? "JSON lines" : "live lines");
  EXPECT_EQ(first.WaitForExit(10s), 0);
  EXPECT_EQ(second.WaitForExit(10s), 0);
}

TEST(StationTickAllocation, NoneWhileServingWithJsonLines) { RunTwoPorts(true); }
TEST(StationTickAllocation, NoneWhileServingWithLiveLines) { RunTwoPorts(false); }
TEST(StationTickAllocation, NoneWithLongNamesOnceTheLinesAreSized) { RunTwoPorts(true, true); }

}  // namespace
}  // namespace tarnwick::cli
