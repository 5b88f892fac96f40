// The station's parts: the image digest, JSON lines and the port its engine
// scans through.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "event_json.h"
#include "json_line.h"
#include "json_lines.h"
#include "lane_port.h"
#include "run_text.h"
#include "sha256.h"
#include "temp_dir.h"

namespace tarnwick::station {
namespace {

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
      "caf\xC3\xA9",                // 2 bytes
      "\xE2\x82\xAC \xEF\xBF\xBD",  // 3 bytes, U+FFFD itself
      "\xED\x9F\xBF",               // U+D7FF, just below the surrogates
      "\xF0\x9F\x94\x8C",           // 4 bytes
      "\xF4\x8F\xBF\xBF",           // U+10FFFF
      "\xE2\x80\xA8",               // U+2028
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
      {"\xC0\xAF", r + r},                  // overlong '/'
      {"\xE0\x80\xAF", r + r + r},          // overlong, 3 bytes
      {"\xF0\x80\x80\xAF", r + r + r + r},  // overlong, 4 bytes
      {"\xED\xA0\x80x", r + r + r + "x"},   // a surrogate, U+D800
      {"\xF4\x90\x80\x80", r + r + r + r},  // above U+10FFFF
      {"\xF5\x80", r + r},
      {"a\x80", "a" + r},   // stray continuation
      {"\xE2\x82", r + r},  // cut short at the end
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

// A port that opens only what it is told and remembers what it was asked.
class ScriptedPort : public SerialPort {
 public:
  bool Open(const char* name) override {
    opened = name;
    return name == std::string("good");
  }
  bool Configure() override { return configurable; }
  std::ptrdiff_t Write(const std::uint8_t*, std::size_t length) override { return static_cast<std::ptrdiff_t>(length); }
  std::size_t BytesWaiting() override { return 2; }
  std::size_t Read(std::uint8_t* out, std::size_t count) override {
    out[0] = 0x33;
    out[1] = 0xBB;
    return std::min<std::size_t>(count, 2);
  }
  void Close() override {}
  const char* LastError() const override { return "refused"; }
  PortError LastPortError() const override { return {PortErrorKind::InUse, 16, 42, "minicom"}; }
  std::string opened;
  bool configurable = true;
};

// "ports" for a Windows USB adapter, whose access only opening it would
// tell, and for Linux devices the user may and may not open.
TEST(PortsListing, TellsTheNameTheAdapterAndWhetherThePortMayBeOpened) {
  SerialDevice windows;
  windows.name = "COM5";
  windows.path = "\\\\.\\COM5";
  windows.friendlyName = "USB Serial Port (COM5)";
  windows.driver = "FTDIBUS";
  windows.usb = true;
  windows.vendorId = "0403";
  windows.productId = "6001";
  windows.manufacturer = "FTDI";
  windows.product = "FT232R USB UART";
  windows.serial = "A50285BI";
  windows.access = PortAccess::Unknown;
  windows.accessAdvice = "another program may hold it";
  SerialDevice allowed;
  allowed.name = "ttyUSB0";
  allowed.path = "/dev/ttyUSB0";
  allowed.byId = {"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"};
  allowed.driver = "ftdi_sio";
  allowed.usb = true;
  allowed.vendorId = "0403";
  allowed.productId = "6001";
  allowed.manufacturer = "FTDI";
  allowed.product = "FT232R USB UART";
  allowed.serial = "A50285BI";
  SerialDevice denied;
  denied.name = "ttyS0";
  denied.path = "/dev/ttyS0";
  denied.driver = "serial8250";
  denied.access = PortAccess::Denied;
  denied.accessAdvice = "Permission denied: join the group \"dialout\"";

  EXPECT_EQ(DeviceDescription(windows),
            "\\\\.\\COM5  driver FTDIBUS  usb:0403:6001:A50285BI\n"
            "    USB Serial Port (COM5)\n"
            "    FTDI FT232R USB UART\n"
            "    whether you may open it: unknown (another program may hold it)\n");
  EXPECT_EQ(DeviceDescription(allowed),
            "/dev/ttyUSB0  driver ftdi_sio  usb:0403:6001:A50285BI\n"
            "    FTDI FT232R USB UART\n"
            "    /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0\n"
            "    you may open it\n");
  EXPECT_EQ(DeviceDescription(denied),
            "/dev/ttyS0  driver serial8250\n"
            "    cannot open it: Permission denied: join the group \"dialout\"\n");

  JsonLine line;
  const auto json = [&](const SerialDevice& device) {
    const std::string text = DeviceEvent(line, device);
    return testing::ParseJson(text.substr(0, text.size() - 1));
  };
  const auto windowsJson = json(windows);
  EXPECT_EQ(windowsJson.at("friendly_name"), "USB Serial Port (COM5)");
  EXPECT_EQ(windowsJson.at("usb"), true);
  EXPECT_EQ(windowsJson.at("vendor_id"), "0403");
  EXPECT_EQ(windowsJson.at("serial"), "A50285BI");
  EXPECT_EQ(windowsJson.at("access"), nullptr);
  EXPECT_EQ(windowsJson.at("access_advice"), "another program may hold it");
  const auto allowedJson = json(allowed);
  EXPECT_FALSE(allowedJson.contains("friendly_name"));
  EXPECT_EQ(allowedJson.at("access"), true);
  EXPECT_FALSE(allowedJson.contains("access_advice"));
  const auto deniedJson = json(denied);
  EXPECT_EQ(deniedJson.at("usb"), false);
  EXPECT_EQ(deniedJson.at("access"), false);
  EXPECT_EQ(deniedJson.at("access_advice"), "Permission denied: join the group \"dialout\"");
}

struct OpenGate final : WriteGate {
  bool open = true;
  bool MayWrite() override { return open; }
};

TEST(LanePort, EachOpenIsRecordedByItsPlaceInTheScan) {
  ScriptedPort inner;
  OpenGate gate;
  LanePort port(inner, gate);
  const std::string bad = "bad", good = "good", other = "other";
  const char* const names[] = {bad.c_str(), good.c_str(), other.c_str()};
  const char* const labels[] = {"first", "second", nullptr};
  port.SetNames(names, labels);
  EXPECT_FALSE(port.Open(names[0]));
  EXPECT_EQ(inner.opened, "bad");
  EXPECT_TRUE(port.Open(names[1]));
  EXPECT_EQ(inner.opened, "good");

  EXPECT_TRUE(port.record(0).tried);
  EXPECT_FALSE(port.record(0).opened);
  EXPECT_STREQ(port.record(0).error.data(), "refused");
  EXPECT_EQ(port.record(0).kind.kind, PortErrorKind::InUse);
  EXPECT_STREQ(port.record(0).kind.holderName, "minicom");
  EXPECT_TRUE(port.record(1).opened);
  EXPECT_FALSE(port.record(2).tried);

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
  port.Trace(&trace);
  ASSERT_TRUE(port.Open(names[1]));
  const std::uint8_t frame[] = {0xCC, 0xDD, 0x01};
  // The gate holds back every write but the handshake; none is traced.
  gate.open = false;
  EXPECT_EQ(port.Write(frame, sizeof frame), 0);
  gate.open = true;
  port.Write(frame, sizeof frame);
  std::uint8_t in[2];
  port.Read(in, sizeof in);
  EXPECT_EQ(trace.lines, (std::vector<std::string>{"second > cc dd 01\n", "second < 33 bb\n"}));
}

}  // namespace
}  // namespace tarnwick::station
