// A window that records everything the engine shows on it: the status line,
// the read-outs, the buttons, the progress bar, the timer and each message
// box. The engine's tests and its fuzz target both drive the engine with it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "window_ops.h"

namespace tarnwick::testing {

class RecordingWindow : public WindowOps {
 public:
  void SetStatusText(const char* text) override {
    status = text;
    statuses.push_back(text);
    detail.clear();
  }
  void SetStatusDetail(const char* text) override { detail = text; }
  void SetReadout(int controlId, std::uint32_t value) override { readouts[controlId] = value; }
  void EnableControl(int controlId, bool isEnabled) override { enabled[controlId] = isEnabled; }
  void SetProgressRange(std::uint32_t maximum) override { progressMax = maximum; }
  void SetProgressPosition(std::uint32_t position) override {
    progressPosition = position;
    positions.push_back(position);
  }
  bool StartTimer() override {
    ++timerStarts;
    timerRunning = timerCanStart;
    return timerCanStart;
  }
  void KillTimer() override {
    ++timerKills;
    timerRunning = false;
  }
  void ShowMessage(const char* text, MessageIcon icon) override {
    messages.push_back({text, icon});
    ++openBoxes;
    if (whileBoxOpen) whileBoxOpen(text);
    --openBoxes;
  }
  void DestroyMainWindow() override {
    destroyed = true;
    timerRunning = false;
  }

  bool IsEnabled(int controlId) const {
    const auto it = enabled.find(controlId);
    return it != enabled.end() && it->second;
  }

  struct Message {
    std::string text;
    MessageIcon icon;
  };
  std::string status = "Idle";
  std::string detail;
  std::vector<std::string> statuses;
  std::map<int, std::uint32_t> readouts;
  std::map<int, bool> enabled;
  std::uint32_t progressMax = 0, progressPosition = 0;
  std::vector<std::uint32_t> positions;
  bool timerCanStart = true, timerRunning = false, destroyed = false;
  int timerStarts = 0, timerKills = 0, openBoxes = 0;
  std::vector<Message> messages;
  // Runs while a box is "open": the place to deliver ticks, as a nested loop would.
  std::function<void(const std::string&)> whileBoxOpen;
};

}  // namespace tarnwick::testing
