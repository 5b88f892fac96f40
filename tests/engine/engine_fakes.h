// A scripted serial port and a window that records what the engine shows,
// for driving the engine tick by tick.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "frame_codec.h"
#include "platform_image_file.h"
#include "recording_window.h"
#include "run_machine.h"
#include "wire_frames.h"

namespace tarnwick::testing {

class FakeSerialPort : public SerialPort {
 public:
  bool Open(const char* portName) override {
    opened.push_back(portName);
    EXPECT_FALSE(isOpen) << "opened " << portName << " while another port was open";
    const std::string name(portName);
    isOpen = name.size() == 4 && name.compare(0, 3, "COM") == 0 && name[3] >= '1' && name[3] <= '4' &&
             openable[static_cast<std::size_t>(name[3] - '1')];
    if (isOpen) openPort = name;
    settingsRefused = false;
    return isOpen;
  }
  bool Configure() override {
    EXPECT_TRUE(isOpen);
    ++configures;
    settingsRefused = refusesSettings[static_cast<std::size_t>(openPort[3] - '1')];
    return !settingsRefused;
  }
  std::ptrdiff_t Write(const std::uint8_t* data, std::size_t length) override {
    EXPECT_TRUE(isOpen) << "write on a closed port";
    if (failed) return -1;
    writes.emplace_back(data, data + length);
    if (onWrite) onWrite(writes.back());
    return static_cast<std::ptrdiff_t>(length);
  }
  std::size_t BytesWaiting() override { return incoming.size(); }
  std::size_t Read(std::uint8_t* out, std::size_t count) override {
    ++reads;
    std::size_t i = 0;
    for (; i < count && !incoming.empty(); ++i) {
      out[i] = incoming.front();
      incoming.pop_front();
    }
    return i;
  }
  void Close() override {
    EXPECT_TRUE(isOpen) << "closed a port that was not open";
    isOpen = false;
    failed = false;
    ++closes;
  }
  bool HasFailed() const override { return failed; }
  const char* LastError() const override {
    if (failed) return "Input/output error";
    return settingsRefused ? "Invalid argument" : "no such device";
  }

  void Deliver(const Bytes& bytes) { incoming.insert(incoming.end(), bytes.begin(), bytes.end()); }
  int HandshakesWritten() const {
    int count = 0;
    for (const auto& write : writes) count += write == Handshake() ? 1 : 0;
    return count;
  }
  // Block frames written, in order (anything that is not the handshake).
  std::vector<Bytes> Blocks() const {
    std::vector<Bytes> blocks;
    for (const auto& write : writes) {
      if (write != Handshake()) blocks.push_back(write);
    }
    return blocks;
  }

  std::array<bool, 4> openable{false, false, false, false};
  // Ports that open but refuse the line settings.
  std::array<bool, 4> refusesSettings{false, false, false, false};
  bool settingsRefused = false;
  bool isOpen = false;
  bool failed = false;  // the device behind the open port went away
  std::string openPort;
  std::vector<std::string> opened;
  int configures = 0, closes = 0, reads = 0;
  std::vector<Bytes> writes;
  std::deque<std::uint8_t> incoming;
  std::function<void(const Bytes&)> onWrite;
};

// An engine with a fake port and a recording window.
struct EngineHarness {
  EngineHarness() { engine->OnInitDialog(); }

  void SetImage(const Bytes& image) {
    std::copy(image.begin(), image.end(), engine->state().imageData.begin());
    engine->state().imageLength = static_cast<std::uint32_t>(image.size());
    window.EnableControl(IdProgram, true);
  }
  // One timer message, as the window would deliver it.
  void Tick(int count = 1) {
    for (int i = 0; i < count; ++i) {
      if (window.timerRunning && !window.destroyed) engine->OnTimer();
    }
  }
  // Program on a fresh engine with a device on COM1 that answers the first
  // handshake with a request for block 0; returns with the run programming.
  void ConnectOnCom1() {
    port.openable[0] = true;
    engine->OnProgram();
    Tick(2);  // first port, open COM1
    port.Deliver(Request(0));
    Tick();  // probe tick: handshake, poll, block 0 served
    Tick();  // "Connected"
    Tick();  // the pause before polling
    ASSERT_EQ(engine->state().runState, RunProgramming);
  }

  FakeSerialPort port;
  RecordingWindow window;
  PlatformImageFile imageFile;
  std::unique_ptr<ProgrammerEngine> engine = std::make_unique<ProgrammerEngine>(port, window, imageFile);
};

inline Bytes Pattern(std::size_t length) {
  Bytes bytes(length);
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
  return bytes;
}

}  // namespace tarnwick::testing
