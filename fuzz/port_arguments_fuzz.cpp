// PORT arguments resolved against a machine: ResolvePorts on a fake /dev and
// /sys (made once) with adapters, an on-board port and a stable name that is
// not UTF-8, then each port's record as the run log writes it. The input is
// cut into arguments at its zero bytes. Checked: a refusal says why; every
// port found has a path or the reason it has none; and the record carries
// each name whole as valid JSON.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "fake_machine.h"
#include "fuzz_support.h"
#include "run_record.h"
#include "serial_devices.h"

namespace {

using tarnwick::fuzz::Check;

struct Machine {
  Machine() {
    machine.AddUsbAdapter(tarnwick::testing::Adapter("ttyUSB0", "AAA"), 1);
    machine.AddUsbAdapter(tarnwick::testing::Adapter("ttyUSB1", "B\xFF\x01"), 2);
    machine.AddUsbAdapter(tarnwick::testing::Adapter("ttyACM0", "C\xE2\x82\xAC", "2341", "0043", "cdc_acm"), 3);
    machine.AddOnBoardPort("ttyS0", 4);
    tree.devRoot = machine.dev();
    tree.sysRoot = machine.sys();
    tree.accessError = [](const std::string&) { return 0; };
  }
  tarnwick::testing::FakeMachine machine;
  tarnwick::DeviceTree tree;
  tarnwick::fuzz::RecordFile records;
};


}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  [[maybe_unused]] static const bool inMemory = tarnwick::fuzz::ScratchInMemory();
  static Machine machine;
  const std::vector<std::string> arguments = tarnwick::fuzz::SplitArguments(data, size);
  if (arguments.size() > 16) return 0;  // more says nothing new, and slowly
  std::vector<tarnwick::PortTarget> targets;
  std::string error;
  bool resolved = false;
  try {
    resolved = tarnwick::ResolvePorts(arguments, machine.tree, targets, error);
  } catch (const std::exception&) {
    tarnwick::fuzz::Fail("ResolvePorts threw");
  }
  if (!resolved) {
    Check(!error.empty(), "a refused port argument has no reason");
    return 0;
  }
  Check(targets.size() >= arguments.size(), "an argument named no port");
  for (const auto& target : targets) {
    Check(!target.label.empty(), "a port without a name");
    Check(!target.path.empty() || !target.missing.empty(), "a port with neither a path nor the reason");
    tarnwick::fuzz::CheckRecordOf(machine.records, target);
  }
  return 0;
}
