// A whole programming run over the Win32 serial port, without a window: the
// engine scans COM1 to COM4, finds the simulated device (mapped to one of
// them) and serves it an image. The device itself checks the image it got.
//   win32_device_run IMAGE.UPL EXPECTED_LENGTH TICK_MS TIME_LIMIT_S [lost]
// Exit status 0 when the run ended with the success message and the window
// showed every byte sent (with "lost": when the device went away mid-run and
// the run ended on the lost port, with the port closed); 1 otherwise, with
// the reason on standard error.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "run_machine.h"
#include "win32_image_file.h"
#include "win32_serial_port.h"

namespace {

using tarnwick::MessageIcon;

// Records what the engine shows; the timer is this program's own loop.
class HeadlessWindow final : public tarnwick::WindowOps {
 public:
  void SetStatusText(const char* text) override {
    if (status != text) std::printf("status: %s\n", text);
    status = text;
  }
  void SetReadout(int controlId, std::uint32_t value) override {
    if (controlId == tarnwick::IdBytesSent) bytesSent = value;
    if (controlId == tarnwick::IdImageLength) imageLength = value;
  }
  void EnableControl(int controlId, bool enabled) override {
    if (controlId == tarnwick::IdProgram) programEnabled = enabled;
  }
  void SetProgressRange(std::uint32_t maximum) override { progressMax = maximum; }
  void SetProgressPosition(std::uint32_t position) override { progressPosition = position; }
  bool StartTimer() override { return true; }
  void KillTimer() override {}
  void ShowMessage(const char* text, MessageIcon icon) override {
    std::printf("message: \"%s\"\n", text);
    messages.emplace_back(text);
    if (icon == MessageIcon::Information) succeeded = true;
  }
  void DestroyMainWindow() override { destroyed = true; }

  std::string status;
  std::uint32_t bytesSent = 0, imageLength = 0, progressMax = 0, progressPosition = 0;
  bool programEnabled = false, succeeded = false, destroyed = false;
  std::vector<std::string> messages;
};

int Fail(const char* why) {
  std::fprintf(stderr, "win32_device_run: %s\n", why);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5 && argc != 6) {
    return Fail("usage: win32_device_run IMAGE.UPL EXPECTED_LENGTH TICK_MS TIME_LIMIT_S [lost]");
  }
  const bool expectLost = argc == 6 && std::string(argv[5]) == "lost";
  const std::uint32_t expectedLength = static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 10));
  const DWORD tickMs = static_cast<DWORD>(std::strtoul(argv[3], nullptr, 10));
  const ULONGLONG limitMs = std::strtoull(argv[4], nullptr, 10) * 1000;

  tarnwick::win32::Win32SerialPort port;
  HeadlessWindow window;
  tarnwick::win32::Win32ImageFile imageFile;
  // The engine holds the 64 KiB image inline: keep it off the stack.
  static tarnwick::ProgrammerEngine engine(port, window, imageFile);

  engine.OnInitDialog();
  if (!engine.LoadFile(argv[1])) return Fail("the image did not load");
  if (window.imageLength != expectedLength) return Fail("the length read-out is not the image's length");
  engine.OnProgram();

  const ULONGLONG start = ::GetTickCount64();
  while (!window.succeeded && !window.destroyed && engine.lastOutcome() != tarnwick::RunOutcome::PortLost &&
         ::GetTickCount64() - start < limitMs) {
    engine.OnTimer();
    ::Sleep(tickMs);
  }
  std::printf("ticks ran for %llu ms\n", ::GetTickCount64() - start);

  if (window.destroyed) return Fail("the engine gave up and ended the program");
  if (expectLost) {
    if (engine.lastOutcome() != tarnwick::RunOutcome::PortLost) return Fail("the lost port was not reported");
    if (port.IsOpen()) return Fail("the lost port was left open");
    if (!window.programEnabled) return Fail("Program is not enabled after the lost port");
    std::printf("lost port reported after %u bytes\n", static_cast<unsigned>(window.bytesSent));
    return 0;
  }
  if (!window.succeeded) return Fail("no success message within the time limit");
  if (window.status != "Done") return Fail("the status line does not say Done");
  if (window.bytesSent != expectedLength) return Fail("the bytes-sent read-out is not the image's length");
  if (window.progressMax != expectedLength || window.progressPosition != expectedLength) {
    return Fail("the progress bar did not end full");
  }
  if (!window.programEnabled) return Fail("Program is not enabled again after the run");
  engine.OnExit();
  if (port.IsOpen()) return Fail("Exit left the port open");
  std::printf("run complete: %u bytes sent\n", static_cast<unsigned>(window.bytesSent));
  return 0;
}
