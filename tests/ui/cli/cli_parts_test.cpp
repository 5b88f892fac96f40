// The parts of tarnwick-cli below its command line: the image digest, JSON
// lines, port names, the machine's serial devices and the routing of the
// engine's port names.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

#include "cli_process.h"
#include "fake_machine.h"
#include "json_line.h"
#include "routed_port.h"
#include "permission_hint.h"
#include "serial_devices.h"
#include "sha256.h"

namespace tarnwick::cli {
namespace {

using testing::FakeMachine;
using testing::Adapter;
using testing::UsbAdapter;

std::string Hex(const std::string& text) {
  return Sha256Hex(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()).data();
}

TEST(Sha256, KnownDigests) {
  EXPECT_EQ(Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  // Two blocks, and the padding's length field falling into the second.
  EXPECT_EQ(Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(Hex(std::string(1000000, 'a')), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256, PiecewiseEqualsWhole) {
  const auto bytes = testing::RandomBytes(65536, 7);
  Sha256 pieces;
  for (std::size_t at = 0; at < bytes.size(); at += 1000) {
    pieces.Update(bytes.data() + at, std::min<std::size_t>(1000, bytes.size() - at));
  }
  const auto digest = pieces.Finish();
  Sha256 whole;
  whole.Update(bytes.data(), bytes.size());
  EXPECT_EQ(digest, whole.Finish());
}

// The line written, parsed by a strict parser.
nlohmann::json Parsed(JsonLine& line) {
  const std::string text = line.Finish();
  EXPECT_EQ(text.size(), line.length());
  EXPECT_EQ(text.find('\n'), text.size() - 1) << "one line, ended by its newline: " << text;
  return testing::ParseJson(text.substr(0, text.size() - 1));
}

std::string HexOf(std::string_view bytes) {
  std::string hex;
  char digits[3];
  for (const char c : bytes) {
    std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned char>(c));
    hex += digits;
  }
  return hex;
}

TEST(JsonLine, FieldsNestingAndEscapes) {
  JsonLine line;
  line.String("event", "status").Null("port").String("text", "Connect COM1 \\ \"x\"\n\x01\x7f");
  line.Begin("image").Unsigned("bytes", 4096).End().Number("time", 1.25, 1).Bool("usb", true);
  const std::string text = line.Finish();
  EXPECT_EQ(text,
            "{\"event\":\"status\",\"port\":null,\"text\":\"Connect COM1 \\\\ \\\"x\\\"\\n\\u0001\\u007f\","
            "\"image\":{\"bytes\":4096},\"time\":1.2,\"usb\":true}\n");
  line.Clear();
  line.String("text", std::string_view("a\0b", 3)).Number("huge", 1e300, 1).Number("nan", std::nan(""), 1);
  auto parsed = Parsed(line);
  EXPECT_EQ(parsed.at("text"), std::string("a\0b", 3));
  EXPECT_DOUBLE_EQ(parsed.at("huge").get<double>(), 1e300);
  EXPECT_EQ(parsed.at("nan"), nullptr);
}

// Valid UTF-8 passes through byte for byte; every byte outside a valid
// sequence reads as U+FFFD, and <key>_hex carries the exact bytes.
TEST(JsonLine, StringsAreValidUtf8AndKeepTheirBytes) {
  const std::vector<std::string> valid = {
      "caf\xC3\xA9",              // 2 bytes
      "\xE2\x82\xAC \xEF\xBF\xBD",  // 3 bytes, U+FFFD itself
      "\xED\x9F\xBF",              // U+D7FF, just below the surrogates
      "\xF0\x9F\x94\x8C",          // 4 bytes
      "\xF4\x8F\xBF\xBF",          // U+10FFFF
      "\xE2\x80\xA8",              // U+2028
  };
  for (const std::string& text : valid) {
    JsonLine line;
    line.String("path", text);
    const std::string written = line.Finish();
    EXPECT_NE(written.find(text), std::string::npos) << "not passed through unchanged: " << HexOf(text);
    EXPECT_EQ(written.find("_hex"), std::string::npos) << written;
    EXPECT_EQ(testing::ParseJson(written.substr(0, written.size() - 1)).at("path"), text) << HexOf(text);
  }

  struct Case {
    std::string bytes;
    std::string readable;
  };
  const std::string r = "\xEF\xBF\xBD";  // U+FFFD
  const std::vector<Case> invalid = {
      {"/tmp/\xFF.UPL", "/tmp/" + r + ".UPL"},
      {"\xC0\xAF", r + r},                   // overlong '/'
      {"\xE0\x80\xAF", r + r + r},          // overlong, 3 bytes
      {"\xF0\x80\x80\xAF", r + r + r + r}, // overlong, 4 bytes
      {"\xED\xA0\x80x", r + r + r + "x"},   // a surrogate, U+D800
      {"\xF4\x90\x80\x80", r + r + r + r}, // above U+10FFFF
      {"\xF5\x80", r + r},
      {"a\x80", "a" + r},                     // stray continuation
      {"\xE2\x82", r + r},                   // cut short at the end
      {"\xE2\x82x\xC3\xA9", r + r + "x\xC3\xA9"},
      {"\x01\xFF", "\x01" + r},
  };
  for (const Case& each : invalid) {
    JsonLine line;
    line.Begin("image").String("path", each.bytes).End().String("next", "x");
    auto parsed = Parsed(line);
    EXPECT_EQ(parsed.at("image").at("path"), each.readable) << HexOf(each.bytes);
    EXPECT_EQ(parsed.at("image").at("path_hex"), HexOf(each.bytes));
    EXPECT_EQ(parsed.at("next"), "x");
    EXPECT_FALSE(IsValidUtf8(each.bytes)) << HexOf(each.bytes);
  }
  for (const std::string& text : valid) EXPECT_TRUE(IsValidUtf8(text)) << HexOf(text);
}

// Sized beforehand, a line of the longest strings does not grow its buffer,
// whatever bytes they hold; Clear keeps what was reserved.
TEST(JsonLine, ReservedRoomHoldsTheWorstCase) {
  const std::size_t longest = 3000;
  std::string worst;
  for (std::size_t i = 0; i < longest; ++i) worst += i % 2 == 0 ? '\x01' : '\xFF';
  const std::size_t previous = JsonLine::InitialCapacity();
  JsonLine::SetInitialCapacity(3 * JsonLine::StringRoom(longest) + 256);
  JsonLine line;
  JsonLine::SetInitialCapacity(previous);
  const std::size_t capacity = line.capacity();
  EXPECT_GE(capacity, 3 * JsonLine::StringRoom(longest));
  for (int round = 0; round < 2; ++round) {
    line.Clear();
    line.String("event", "result").String("port", worst).String("path", worst);
    line.Begin("image").String("path", worst).Unsigned("bytes", 1).End();
    auto parsed = Parsed(line);
    EXPECT_EQ(parsed.at("image").at("path_hex"), HexOf(worst));
    EXPECT_EQ(line.capacity(), capacity);
  }
  JsonLine other;
  other.Reserve(JsonLine::StringRoom(longest) + 16);
  const std::size_t reserved = other.capacity();
  other.String("port", worst);
  other.Finish();
  EXPECT_EQ(other.capacity(), reserved);
}

TEST(PortArguments, Kinds) {
  std::string error;
  EXPECT_EQ(ParsePortArgument("COM3", error).kind, PortArgumentKind::ComName);
  EXPECT_EQ(ParsePortArgument("com12", error).comNumber, 12u);
  const PortArgument mapping = ParsePortArgument("COM2=/dev/ttyUSB1", error);
  EXPECT_EQ(mapping.kind, PortArgumentKind::ComMapping);
  EXPECT_EQ(mapping.comNumber, 2u);
  EXPECT_EQ(mapping.path, "/dev/ttyUSB1");
  const PortArgument usb = ParsePortArgument("usb:0403:6001:A1B2", error);
  EXPECT_EQ(usb.kind, PortArgumentKind::UsbId);
  EXPECT_EQ(usb.vendorId, 0x0403u);
  EXPECT_EQ(usb.productId, 0x6001u);
  EXPECT_EQ(usb.serial, "A1B2");
  EXPECT_EQ(ParsePortArgument("usb:10c4:ea60", error).serial, "");
  EXPECT_EQ(ParsePortArgument("/dev/ttyACM0", error).kind, PortArgumentKind::Path);
  EXPECT_EQ(ParsePortArgument("usb-FTDI_A1-if00-port0", error).kind, PortArgumentKind::ById);
  // An '=' in a stable name, a path or a serial number is part of it.
  EXPECT_EQ(ParsePortArgument("usb-FTDI_A1=2C3-if00-port0", error).kind, PortArgumentKind::ById);
  EXPECT_EQ(ParsePortArgument("/dev/serial/by-id/usb-FTDI_A1=2C3-if00-port0", error).kind, PortArgumentKind::Path);
  EXPECT_EQ(ParsePortArgument("usb:0403:6001:A1=2C3", error).serial, "A1=2C3");

  for (const char* bad :
       {"COM0=/dev/x", "COM3=", "com=/dev/x", "usb:0403", "usb:xyz:6001", "usb:12345:1", "usb:0403:6001:", ""}) {
    error.clear();
    EXPECT_EQ(ParsePortArgument(bad, error).kind, PortArgumentKind::Invalid) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
}

TEST(SerialDevices, ListsAdaptersWithTheirUsbAttributesAndStableNames) {
  FakeMachine machine;
  const std::string byId = machine.AddUsbAdapter(Adapter("ttyUSB1", "SECOND"), 2);
  UsbAdapter cp2102 = Adapter("ttyUSB0", "0001", "10c4", "ea60", "cp210x");
  cp2102.manufacturer = "Silicon";
  cp2102.product = "CP2102";
  machine.AddUsbAdapter(cp2102, 1);
  machine.AddUsbAdapter(Adapter("ttyACM0", "75", "2341", "0043", "cdc_acm"), 3);
  machine.AddOnBoardPort("ttyS0", 4);
  machine.AddOnBoardPort("ttyS1", 0);  // no UART behind it
  machine.AddPlainDevice("tty1");

  DeviceTree tree{machine.dev(), machine.sys(), [](const std::string&) { return 0; }};
  const auto devices = ListSerialDevices(tree);
  ASSERT_EQ(devices.size(), 4u);
  EXPECT_EQ(devices[0].name, "ttyUSB0");
  EXPECT_EQ(devices[1].name, "ttyUSB1");
  EXPECT_EQ(devices[2].name, "ttyACM0");
  EXPECT_EQ(devices[3].name, "ttyS0");

  EXPECT_TRUE(devices[0].usb);
  EXPECT_EQ(devices[0].vendorId, "10c4");
  EXPECT_EQ(devices[0].productId, "ea60");
  EXPECT_EQ(devices[0].manufacturer, "Silicon");
  EXPECT_EQ(devices[0].product, "CP2102");
  EXPECT_EQ(devices[0].serial, "0001");
  EXPECT_EQ(devices[0].driver, "cp210x");
  EXPECT_EQ(devices[1].serial, "SECOND");
  ASSERT_EQ(devices[1].byId.size(), 1u);
  EXPECT_EQ(devices[1].byId[0], machine.Path("serial/by-id/" + byId));
  EXPECT_EQ(devices[2].driver, "cdc_acm");
  EXPECT_FALSE(devices[3].usb);
  EXPECT_TRUE(devices[3].byId.empty());
  for (const auto& device : devices) EXPECT_TRUE(device.accessible) << device.name;
}

TEST(SerialDevices, PermissionDeniedNamesTheOwningGroup) {
  FakeMachine machine;
  machine.AddUsbAdapter(Adapter("ttyUSB0", "X0"), 1);
  machine.AddUsbAdapter(Adapter("ttyUSB1", "X1"), 2);
  const std::string denied = machine.Path("ttyUSB1");
  DeviceTree tree{machine.dev(), machine.sys(),
                  [&](const std::string& path) { return path == denied ? EACCES : 0; }};
  const auto devices = ListSerialDevices(tree);
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_TRUE(devices[0].accessible);
  EXPECT_FALSE(devices[1].accessible);
  struct stat info {};
  ASSERT_EQ(::stat(denied.c_str(), &info), 0);
  const group* owner = ::getgrgid(info.st_gid);
  ASSERT_NE(owner, nullptr);
  EXPECT_NE(devices[1].accessAdvice.find(std::strerror(EACCES)), std::string::npos) << devices[1].accessAdvice;
  EXPECT_NE(devices[1].accessAdvice.find("group \"" + std::string(owner->gr_name) + "\""), std::string::npos)
      << devices[1].accessAdvice;
  EXPECT_NE(devices[1].accessAdvice.find("usermod -aG " + std::string(owner->gr_name)), std::string::npos);
  // Other errors are not about groups.
  EXPECT_EQ(PermissionAdvice(denied, ENOENT), "");
}

TEST(ResolvePorts, UsbIdsByIdNamesPathsAndComNames) {
  FakeMachine machine;
  const std::string firstById = machine.AddUsbAdapter(Adapter("ttyUSB0", "AAA"), 1);
  machine.AddUsbAdapter(Adapter("ttyUSB1", "BBB"), 2);
  machine.AddUsbAdapter(Adapter("ttyUSB2", "CCC", "10c4", "ea60"), 3);
  const DeviceTree tree{machine.dev(), machine.sys(), {}};
  const auto canonical = [](const std::string& path) { return std::filesystem::canonical(path).string(); };

  std::vector<PortTarget> targets;
  std::string error;
  // Every adapter with the IDs, in the machine's order; upper-case hex is the same.
  ASSERT_TRUE(ResolvePorts({"usb:0403:6001"}, tree, targets, error)) << error;
  ASSERT_EQ(targets.size(), 2u);
  EXPECT_EQ(targets[0].path, machine.Path("ttyUSB0"));
  EXPECT_EQ(targets[0].usbSerial, "AAA");
  EXPECT_EQ(targets[0].byId, machine.Path("serial/by-id/" + firstById));
  EXPECT_EQ(targets[1].path, machine.Path("ttyUSB1"));
  EXPECT_EQ(targets[1].label, "usb:0403:6001");

  ASSERT_TRUE(ResolvePorts({"usb:10C4:EA60", "usb:0403:6001:BBB"}, tree, targets, error)) << error;
  ASSERT_EQ(targets.size(), 2u);
  EXPECT_EQ(targets[0].path, machine.Path("ttyUSB2"));
  EXPECT_EQ(targets[1].path, machine.Path("ttyUSB1"));

  // No adapter with the IDs: a port with nothing behind it, and why.
  ASSERT_TRUE(ResolvePorts({"usb:0403:6001:ZZZ"}, tree, targets, error)) << error;
  ASSERT_EQ(targets.size(), 1u);
  EXPECT_TRUE(targets[0].path.empty());
  EXPECT_FALSE(targets[0].missing.empty());

  // A by-id name alone or as a path stands for its device.
  ASSERT_TRUE(ResolvePorts({firstById, machine.Path("serial/by-id/" + firstById)}, tree, targets, error)) << error;
  ASSERT_EQ(targets.size(), 2u);
  EXPECT_EQ(targets[0].path, canonical(machine.Path("ttyUSB0")));
  EXPECT_EQ(targets[0].label, firstById);
  EXPECT_EQ(targets[1].path, canonical(machine.Path("ttyUSB0")));
  EXPECT_EQ(targets[1].usbSerial, "AAA");

  // COMn as the dialog maps it; COMn=PATH as given.
  ASSERT_TRUE(ResolvePorts({"COM2", "COM4=/dev/null"}, tree, targets, error)) << error;
  ASSERT_EQ(targets.size(), 2u);
  EXPECT_EQ(targets[0].label, "COM2");
  EXPECT_EQ(targets[0].path, machine.Path("ttyUSB1"));
  EXPECT_EQ(targets[1].label, "COM4");
  EXPECT_EQ(targets[1].path, "/dev/null");

  for (const char* bad : {"COM5", "no-such-by-id-name", "COM9=/dev/x", "usb:1"}) {
    error.clear();
    EXPECT_FALSE(ResolvePorts({bad}, tree, targets, error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
}

// Resolved again, a name stands for what it names at that moment: a link
// re-pointed, an adapter pulled, one of several adapters with the same IDs.
TEST(ResolvePorts, AgainAsTheMachineStandsNow) {
  namespace fs = std::filesystem;
  FakeMachine machine;
  const std::string byIdA = machine.AddUsbAdapter(Adapter("ttyUSB0", "AAA"), 1);
  machine.AddUsbAdapter(Adapter("ttyUSB1", "BBB"), 2);
  const DeviceTree tree{machine.dev(), machine.sys(), {}};
  const std::string link = machine.Path("serial/by-id/" + byIdA);
  std::vector<PortTarget> targets;
  std::string error;
  ASSERT_TRUE(ResolvePorts({byIdA, "usb:0403:6001"}, tree, targets, error)) << error;
  ASSERT_EQ(targets.size(), 3u);
  EXPECT_EQ(targets[0].byId, link);
  // Of several adapters with the IDs, each port keeps its own, by its serial number.
  EXPECT_EQ(targets[1].argument, "usb:0403:6001:AAA");
  EXPECT_EQ(targets[2].argument, "usb:0403:6001:BBB");
  for (const PortTarget& target : targets) EXPECT_TRUE(StillNamed(target)) << target.argument;

  // The stable name now leads to the other adapter, and the first one is pulled.
  fs::remove(link);
  fs::create_symlink("../../ttyUSB1", link);
  fs::remove(machine.Path("ttyUSB0"));
  EXPECT_FALSE(StillNamed(targets[0]));
  EXPECT_FALSE(StillNamed(targets[1]));
  EXPECT_TRUE(StillNamed(targets[2]));
  // Another adapter on the same node is not the one found.
  const fs::path serialFile =
      fs::canonical(machine.sys() + "/class/tty/ttyUSB1/device").parent_path().parent_path() / "serial";
  std::ofstream(serialFile) << "CCC\n";
  EXPECT_FALSE(StillNamed(targets[2]));
  std::ofstream(serialFile) << "BBB\n";
  for (PortTarget& target : targets) ResolveAgain(tree, target);
  EXPECT_EQ(targets[0].path, fs::canonical(machine.Path("ttyUSB1")).string());
  EXPECT_EQ(targets[0].usbSerial, "BBB");
  EXPECT_EQ(targets[0].byId, link);
  EXPECT_EQ(targets[0].label, byIdA);
  EXPECT_TRUE(targets[1].path.empty());
  EXPECT_TRUE(targets[1].usbSerial.empty());
  EXPECT_FALSE(targets[1].missing.empty());
  EXPECT_EQ(targets[1].label, "usb:0403:6001");
  EXPECT_EQ(targets[2].path, machine.Path("ttyUSB1"));

  // The stable name gone: nothing, and where it was looked for.
  fs::remove(link);
  ResolveAgain(tree, targets[0]);
  EXPECT_TRUE(targets[0].path.empty());
  EXPECT_TRUE(targets[0].byId.empty());
  EXPECT_NE(targets[0].missing.find(link), std::string::npos) << targets[0].missing;

  // Names that stand for nothing at the start: errors, or ports that wait.
  EXPECT_FALSE(ResolvePorts({byIdA}, tree, targets, error));
  const std::string gone = machine.Path("ttyUSB0");
  ASSERT_TRUE(ResolvePorts({byIdA, gone, "COM2=" + gone, "usb:0403:6001:AAA"}, tree, targets, error, Absent::Wait))
      << error;
  ASSERT_EQ(targets.size(), 4u);
  for (const PortTarget& target : targets) {
    EXPECT_TRUE(target.path.empty()) << target.label;
    EXPECT_FALSE(target.missing.empty()) << target.label;
  }
  EXPECT_EQ(targets[2].label, "COM2");
  EXPECT_EQ(targets[2].argument, "COM2=" + gone);
}

TEST(ResolvePorts, DefaultScanIsTheDialogsFourNames) {
  FakeMachine machine;
  machine.AddUsbAdapter(Adapter("ttyUSB0", "X0"), 1);
  const auto targets = DefaultScanPorts({machine.dev(), machine.sys(), {}});
  ASSERT_EQ(targets.size(), 4u);
  EXPECT_EQ(targets[0].label, "COM1");
  EXPECT_EQ(targets[0].path, machine.Path("ttyUSB0"));
  EXPECT_EQ(targets[3].label, "COM4");
  EXPECT_TRUE(targets[1].path.empty());
  EXPECT_FALSE(targets[1].missing.empty());
}

// A port that opens only what it is told and remembers what it was asked.
class ScriptedPort : public SerialPort {
 public:
  bool Open(const char* name) override {
    opened = name;
    return name == std::string("good");
  }
  bool Configure() override { return configurable; }
  std::ptrdiff_t Write(const std::uint8_t*, std::size_t length) override {
    return static_cast<std::ptrdiff_t>(length);
  }
  std::size_t BytesWaiting() override { return 2; }
  std::size_t Read(std::uint8_t* out, std::size_t count) override {
    out[0] = 0x33;
    out[1] = 0xBB;
    return std::min<std::size_t>(count, 2);
  }
  void Close() override {}
  const char* LastError() const override { return "refused"; }
  std::string opened;
  bool configurable = true;
};

TEST(RoutedPort, EngineNamesGoToTheChosenDevicesAndEachOpenIsRecorded) {
  ScriptedPort inner;
  RoutedPort port(inner, {"bad", "good", "", ""});
  EXPECT_FALSE(port.Open("COM1"));
  EXPECT_EQ(inner.opened, "bad");
  EXPECT_TRUE(port.Open("COM2"));
  EXPECT_EQ(inner.opened, "good");
  inner.opened.clear();
  EXPECT_FALSE(port.Open("COM3"));  // nothing stands behind it: the inner port is not asked
  EXPECT_EQ(inner.opened, "");
  EXPECT_FALSE(port.Open("COM5"));

  EXPECT_TRUE(port.record(0).tried);
  EXPECT_FALSE(port.record(0).opened);
  EXPECT_STREQ(port.record(0).error.data(), "refused");
  EXPECT_TRUE(port.record(1).opened);
  EXPECT_TRUE(port.record(2).tried);
  EXPECT_FALSE(port.record(3).tried);

  // Opened, but the line settings refused: the engine closes it again, and
  // it is recorded as a port that did not open.
  EXPECT_TRUE(port.Configure());
  EXPECT_TRUE(port.record(1).opened);
  inner.configurable = false;
  EXPECT_FALSE(port.Configure());
  EXPECT_FALSE(port.record(1).opened);
  EXPECT_STREQ(port.record(1).error.data(), "refused");
  inner.configurable = true;

  // Frames in hex, a line at a time, headed by the port's label.
  struct Lines final : TraceSink {
    std::vector<std::string> lines;
    void TraceLine(const char* text, std::size_t length) override { lines.emplace_back(text, length); }
  } trace;
  port.Trace(&trace, {"first", "second", nullptr, nullptr});
  ASSERT_TRUE(port.Open("COM2"));
  const std::uint8_t frame[] = {0xCC, 0xDD, 0x01};
  port.Write(frame, sizeof frame);
  std::uint8_t in[2];
  port.Read(in, sizeof in);
  EXPECT_EQ(trace.lines, (std::vector<std::string>{"second > cc dd 01\n", "second < 33 bb\n"}));
}

// The tests' reader of JSON lines refuses what a strict parser refuses.
TEST(ParseJson, FailsOnLinesThatAreNotJson) {
  for (const std::string bad : {"{\"a\":1", "{\"a\":\"\xFF\"}", "{\"a\":\"\x01\"}", "{\"a\":\"\\udc80\"}",
                                "{\"a\":1}x", "[1]", "\"text\""}) {
    EXPECT_NONFATAL_FAILURE(testing::ParseJson(bad), "not a JSON object");
  }
  EXPECT_EQ(testing::ParseJson(R"({"a":"x\"y","d":{"path":1}})").at("d").at("path"), 1);
}

}  // namespace
}  // namespace tarnwick::cli
