// What the engine needs of the main window: the controls it writes, the run's
// timer, message boxes and ending the program. Front ends implement it; tests
// record it.
#pragma once

#include <cstdint>

namespace tarnwick {

// Control IDs of the main dialog, shared by the engine and every front end.
enum ControlId : int {
  IdExit = 2,            // IDCANCEL
  IdLoadFile = 1000,
  IdProgram = 1001,
  IdStop = 1002,         // "Stop Programing"
  IdImageLength = 1003,  // read-out: bytes in the image
  IdBytesSent = 1004,    // read-out: bytes served
  IdUnusedEdit = 1006,   // never written
  IdProgress = 1007,
  IdStatus = 1008,
};

inline constexpr int kTimerId = 1;
inline constexpr unsigned kTimerPeriodMs = 100;

enum class MessageIcon { Exclamation, Information, Stop };

class WindowOps {
 public:
  virtual ~WindowOps() = default;

  // Replaces the whole status line (control 1008).
  virtual void SetStatusText(const char* text) = 0;
  // A longer explanation of the status just set (a port's open error, say);
  // front ends show it as the status line's tooltip and on standard error.
  // Every SetStatusText clears it.
  virtual void SetStatusDetail(const char* /*detail*/) {}
  // Shows an unsigned decimal number in read-out 1003 or 1004.
  virtual void SetReadout(int controlId, std::uint32_t value) = 0;
  virtual void EnableControl(int controlId, bool enabled) = 0;
  // Progress bar 1007: range 0 to `maximum` (up to 65,536), then a position.
  virtual void SetProgressRange(std::uint32_t maximum) = 0;
  virtual void SetProgressPosition(std::uint32_t position) = 0;
  // Starts (or restarts) timer 1 with a 100 ms period; false if it cannot.
  virtual bool StartTimer() = 0;
  virtual void KillTimer() = 0;
  // A modal box with an OK button; returns when the operator closes it.
  // Timer ticks go on arriving while it is open.
  virtual void ShowMessage(const char* text, MessageIcon icon) = 0;
  // Destroys the main window, which ends the program.
  virtual void DestroyMainWindow() = 0;
};

}  // namespace tarnwick
