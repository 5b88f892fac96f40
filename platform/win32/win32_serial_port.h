// The serial port on Windows: a COM port opened for overlapped I/O, so that no
// call waits for the line.
//
// LastError is one line, "NAME: WHY", naming the port once as it was given;
// LastPortError gives its kind with GetLastError()'s code. Windows refuses a
// COM port that another program has open with ERROR_ACCESS_DENIED (or
// ERROR_SHARING_VIOLATION), the same code a lack of rights would give; as COM
// ports are open to every user, the refusal is told as InUse, the code kept,
// and no holder named (Windows does not say who holds it).
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <array>
#include <cstddef>
#include <cstdint>

#include "serial_port.h"

namespace tarnwick::win32 {

// Writes handed to the port and not yet finished; each keeps its own record
// and copy of the bytes until the port is done with them.
inline constexpr std::size_t kWriteSlots = 32;
inline constexpr std::size_t kWriteSlotSize = 256;  // a whole block frame (133 bytes) fits
// How long a read whose bytes were already waiting may take to complete.
inline constexpr DWORD kReadCompletionMs = 50;

class Win32SerialPort final : public SerialPort {
 public:
  Win32SerialPort() = default;
  ~Win32SerialPort() override;
  Win32SerialPort(const Win32SerialPort&) = delete;
  Win32SerialPort& operator=(const Win32SerialPort&) = delete;

  // "COM1" to "COM4", passed to CreateFileA as they stand unless MapPort
  // points them elsewhere. A port held by another program fails to open, and
  // LastError says so. The port's DCB and time-outs are read here, before
  // anything changes, and Close writes them back.
  bool Open(const char* portName) override;
  // Has COM(index + 1) open `device` instead, a port name such as "COM12"
  // (opened through the device namespace, "\\.\COM12"); an empty name undoes it.
  void MapPort(std::size_t index, const char* device);
  // 4800 baud, 8 data bits, 1 stop bit, binary, no parity checking, RTS off;
  // every other member of the port's DCB is written back as the port reported
  // it. False when the port refuses its DCB to be read or written.
  bool Configure() override;
  // Copies up to one slot's worth of bytes and starts an overlapped write of
  // them; 0 when every slot still has a write in flight.
  std::ptrdiff_t Write(const std::uint8_t* data, std::size_t length) override;
  // The port's cbInQue; also clears any error condition of the port.
  std::size_t BytesWaiting() override;
  std::size_t Read(std::uint8_t* out, std::size_t count) override;
  void Close() override;
  bool HasFailed() const override { return failed_; }
  const char* LastError() const override { return lastError_.data(); }
  PortError LastPortError() const override { return PortError{errorKind_, static_cast<long>(errorCode_), 0, ""}; }

  bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
  // Writes started and not yet seen to complete (as of the last call that reaped them).
  std::size_t WritesInFlight() const;

 private:
  struct WriteSlot {
    OVERLAPPED overlapped{};
    std::array<std::uint8_t, kWriteSlotSize> bytes{};
    bool busy = false;
  };

  // Frees the slots whose writes have completed, without waiting.
  void ReapWrites();
  // Cancels what is still in flight and waits briefly for the cancellations.
  void AbandonWrites();
  // The text and kind of an error of the open port (or of one being opened,
  // once CreateFile gave it a handle).
  void RememberError(DWORD code);
  // The port refused a call in a way that means it is gone.
  void Fail(DWORD code);
  // "NAME: " and then the system's text for `code`, and the kind.
  void SetError(PortErrorKind kind, DWORD code, bool opening);

  HANDLE handle_ = INVALID_HANDLE_VALUE;
  bool failed_ = false;
  // The open port's settings as it was found.
  DCB foundState_{};
  COMMTIMEOUTS foundTimeouts_{};
  std::array<WriteSlot, kWriteSlots> writeSlots_{};
  OVERLAPPED readOverlapped_{};
  HANDLE readDone_ = nullptr;  // event of readOverlapped_
  DWORD commErrors_ = 0;
  COMSTAT commStatus_{};
  std::array<char, 256> lastError_{};
  PortErrorKind errorKind_ = PortErrorKind::None;
  DWORD errorCode_ = 0;
  std::array<char, 64> name_{};  // as the last Open was given it
  // What COM1 to COM4 open: "\\.\COMn", or empty for the name itself.
  std::array<std::array<char, 16>, 4> targets_{};
};

}  // namespace tarnwick::win32
