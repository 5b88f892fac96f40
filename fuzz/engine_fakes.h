// The engine's surroundings for the engine fuzz target: a serial port whose
// faults the input chooses, a window that records what the engine shows, and
// an image file held in memory. Each fails at once on a call the engine must
// never make (a second port opened, a write on a closed port ...).
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "fuzz_support.h"
#include "recording_window.h"
#include "host_frame_stream.h"
#include "image_file.h"
#include "serial_port.h"
#include "window_ops.h"

namespace tarnwick::fuzz {

class FuzzPort final : public SerialPort {
 public:
  explicit FuzzPort(std::function<void(const WireFrame&)> onFrame) : stream_(std::move(onFrame)) {}

  // Bytes the engine read, in order.
  std::function<void(const std::uint8_t*, std::size_t)> onRead;
  // A port session began or ended.
  std::function<void()> onOpen, onClose;
  // Whether the engine still holds bytes it has not handed to the port.
  std::function<bool()> senderHoldsBytes;

  bool Open(const char* portName) override {
    Check(!open_, "a port was opened while another was open");
    const std::string name = portName;
    const bool known = name.size() == 4 && name.compare(0, 3, "COM") == 0 && name[3] >= '1' && name[3] <= '4';
    Check(known, "the engine opened a port that is not COM1 to COM4");
    failed_ = false;
    failureReported_ = false;
    failedThisSession_ = false;
    incoming_.clear();
    if (!openable[static_cast<std::size_t>(name[3] - '1')]) return false;
    open_ = true;
    stream_.Begin();
    if (onOpen) onOpen();
    return true;
  }
  bool Configure() override {
    Check(open_, "a closed port was configured");
    return true;
  }

  std::ptrdiff_t Write(const std::uint8_t* data, std::size_t length) override {
    CheckUsable("written to");
    if (failNextWrite) {
      failNextWrite = false;
      FailForGood();
    }
    if (failed_) {
      failureReported_ = true;
      return -1;
    }
    const std::size_t taken = std::min(length, writeLimit);
    stream_.Add(data, taken);
    return static_cast<std::ptrdiff_t>(taken);
  }
  std::size_t BytesWaiting() override {
    CheckUsable("polled");
    return failed_ ? 0 : incoming_.size();
  }
  std::size_t Read(std::uint8_t* out, std::size_t count) override {
    CheckUsable("read");
    if (failed_) return 0;
    const std::size_t n = std::min(count, incoming_.size());
    std::copy_n(incoming_.begin(), n, out);
    incoming_.erase(incoming_.begin(), incoming_.begin() + static_cast<std::ptrdiff_t>(n));
    if (onRead) onRead(out, n);
    if (failAfterRead) {
      failAfterRead = false;
      FailForGood();
    }
    return n;
  }
  void Close() override {
    Check(open_, "a port that was not open was closed");
    // A frame may end part-way only when the port failed, or when the engine
    // gives up the port while the rest of the frame still waits in its queue:
    // no port call says how much a write will take, so no sender can avoid that.
    const bool abandoned = senderHoldsBytes && senderHoldsBytes();
    Check(!stream_.InsideFrame() || failedThisSession_ || abandoned,
          "a frame was cut short on a port that had not failed, with nothing of it left to send");
    open_ = false;
    failed_ = false;
    incoming_.clear();
    if (onClose) onClose();
  }
  bool HasFailed() const override {
    if (failed_) failureReported_ = true;
    return failed_;
  }
  const char* LastError() const override { return failed_ ? "Input/output error" : "No such file or directory"; }

  // The device sends bytes; they wait in the port until read. Lost when no
  // port is open or the port has failed, as on a real line.
  void Deliver(const Bytes& bytes) {
    if (!open_ || failed_) return;
    const std::size_t room = kIncomingLimit - std::min(kIncomingLimit, incoming_.size());
    incoming_.insert(incoming_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(
                                                                          std::min(room, bytes.size())));
  }
  // The device behind the open port goes away.
  void FailForGood() {
    if (!open_) return;
    failed_ = true;
    failedThisSession_ = true;
  }

  bool IsOpen() const { return open_; }
  bool Failed() const { return failed_; }
  // Bytes of a frame the port has taken, short of its end.
  bool InsideFrame() const { return stream_.InsideFrame(); }

  std::array<bool, 4> openable{};
  std::size_t writeLimit = SIZE_MAX;  // bytes a Write takes at most
  bool failNextWrite = false;
  bool failAfterRead = false;

 private:
  static constexpr std::size_t kIncomingLimit = 1 << 16;

  void CheckUsable(const char* what) const {
    if (!open_) fuzz::Fail((std::string("a closed port was ") + what).c_str());
    if (failureReported_) fuzz::Fail((std::string("a port was ") + what + " after it reported its failure").c_str());
  }

  bool open_ = false;
  bool failed_ = false;
  mutable bool failureReported_ = false;
  bool failedThisSession_ = false;
  std::deque<std::uint8_t> incoming_;
  HostFrameStream stream_;
};

// The tests' recording window, which checks what the engine writes on it
// as it goes.
class FuzzWindow final : public testing::RecordingWindow {
 public:
  std::function<void(std::uint32_t)> onBytesSentShown;
  bool refuseNextTimer = false;

  void SetStatusText(const char* text) override {
    Check(text != nullptr, "a status text is null");
    RecordingWindow::SetStatusText(text);
  }
  void SetStatusDetail(const char* text) override {
    Check(text != nullptr, "a status detail is null");
    RecordingWindow::SetStatusDetail(text);
  }
  void SetReadout(int controlId, std::uint32_t value) override {
    Check(controlId == IdImageLength || controlId == IdBytesSent, "a read-out that does not exist was written");
    RecordingWindow::SetReadout(controlId, value);
    if (controlId == IdBytesSent && onBytesSentShown) onBytesSentShown(value);
  }
  void SetProgressRange(std::uint32_t maximum) override {
    Check(maximum <= 65536, "the progress range passes 65,536");
    RecordingWindow::SetProgressRange(maximum);
  }
  void SetProgressPosition(std::uint32_t position) override {
    Check(position <= progressMax, "the progress bar's position passes its range");
    RecordingWindow::SetProgressPosition(position);
  }
  bool StartTimer() override {
    timerCanStart = !refuseNextTimer;
    refuseNextTimer = false;
    return RecordingWindow::StartTimer();
  }
  void ShowMessage(const char* text, MessageIcon icon) override {
    Check(text != nullptr && *text != '\0', "a message box without a text");
    RecordingWindow::ShowMessage(text, icon);
  }
};

// One file, prepared before each load: its bytes, how Open answers, how much a
// Read hands over at most, and where a read error strikes.
class FuzzImageFile final : public ImageFile {
 public:
  void Prepare(Bytes content, ImageOpenStatus openStatus, std::size_t readChunk,
               std::optional<std::size_t> failAt) {
    content_ = std::move(content);
    openStatus_ = openStatus;
    readChunk_ = std::max<std::size_t>(readChunk, 1);
    failAt_ = failAt;
  }

  ImageOpenStatus Open(const char* path) override {
    Check(path != nullptr, "an image file opened without a path");
    Check(!open_, "an image file was opened while another was open");
    position_ = 0;
    open_ = openStatus_ == ImageOpenStatus::Opened;
    return openStatus_;
  }
  std::ptrdiff_t Read(std::uint8_t* out, std::size_t count) override {
    Check(open_, "an image file that is not open was read");
    if (failAt_ && position_ >= *failAt_) return -1;
    const std::size_t end = std::min(content_.size(), failAt_.value_or(content_.size()));
    const std::size_t n = std::min({count, readChunk_, end - position_});
    std::copy_n(content_.begin() + static_cast<std::ptrdiff_t>(position_), n, out);
    position_ += n;
    return static_cast<std::ptrdiff_t>(n);
  }
  void Close() override { open_ = false; }
  const char* LastError() const override { return "Permission denied"; }

  bool IsOpen() const { return open_; }

 private:
  Bytes content_;
  ImageOpenStatus openStatus_ = ImageOpenStatus::NotFound;
  std::size_t readChunk_ = 1;
  std::optional<std::size_t> failAt_;
  std::size_t position_ = 0;
  bool open_ = false;
};

}  // namespace tarnwick::fuzz
