// The window operations of one run without a window: the engine's status
// texts, read-outs, progress and message boxes are kept and passed on to
// whoever reports them. A message box returns at once (there is no modal loop
// here, and the engine never needs one to wait), and destroying the main
// window means the scan found no device.
#pragma once

#include <array>
#include <cstdint>

#include "window_ops.h"

namespace tarnwick::station {

class RunEvents {
 public:
  virtual ~RunEvents() = default;
  virtual void OnStatus(const char* text) = 0;
  virtual void OnDetail(const char* detail) = 0;
  virtual void OnProgress(std::uint32_t sent, std::uint32_t total) = 0;
  virtual void OnMessage(const char* text, MessageIcon icon) = 0;
};

class RunWindow final : public WindowOps {
 public:
  explicit RunWindow(RunEvents& events) : events_(events) {}

  void SetStatusText(const char* text) override;
  void SetStatusDetail(const char* detail) override;
  void SetReadout(int controlId, std::uint32_t value) override;
  void EnableControl(int, bool) override {}
  void SetProgressRange(std::uint32_t maximum) override { total_ = maximum; }
  void SetProgressPosition(std::uint32_t position) override;
  bool StartTimer() override {
    timerRunning_ = true;
    return true;
  }
  void KillTimer() override { timerRunning_ = false; }
  void ShowMessage(const char* text, MessageIcon icon) override { events_.OnMessage(text, icon); }
  void DestroyMainWindow() override {
    destroyed_ = true;
    timerRunning_ = false;
  }

  bool timerRunning() const { return timerRunning_; }
  bool destroyed() const { return destroyed_; }
  // A new scan begins: the end of the last one is forgotten.
  void Revive() { destroyed_ = false; }

  const char* status() const { return status_.data(); }
  std::uint32_t imageLength() const { return imageLength_; }
  std::uint32_t bytesSent() const { return bytesSent_; }
  // Read-outs of a new run start from nothing.
  void ResetProgress() {
    bytesSent_ = 0;
    total_ = imageLength_;
  }

 private:
  RunEvents& events_;
  // Room for the longest status the engine writes, a port's path in it.
  std::array<char, 4200> status_{};
  std::array<char, 1024> detail_{};
  std::uint32_t imageLength_ = 0;
  std::uint32_t bytesSent_ = 0;
  std::uint32_t total_ = 0;  // the progress bar's range
  bool timerRunning_ = false;
  bool destroyed_ = false;
};

}  // namespace tarnwick::station
