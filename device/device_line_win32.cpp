// The device's end of the line on Windows: a COM port opened for overlapped
// I/O. Reads take only what the driver holds, so they finish at once; one
// write at a time is in flight, from a buffer of the line's own, and the line
// takes no more until it is through.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <string>

#include "device_line.h"
#include "serial_devices.h"
#include "system_error_text.h"
#include "wide_text.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace tarnwick::device {

namespace {

// How long a write aborted by a purge or a hang-up may take to give its buffer back.
constexpr DWORD kAbortWaitMs = 1000;
constexpr std::size_t kWriteBufferSize = 4096;

std::string SystemError(const std::string& what, DWORD code, bool opening = false) {
  std::array<char, 256> text{};
  if (opening) {
    win32::PortOpenErrorText(code, text.data(), text.size());
  } else {
    win32::SystemErrorText(code, text.data(), text.size());
  }
  return what + ": " + text.data();
}

DWORD SpeedFor(unsigned baud) {
  switch (baud) {
    case 1200:
    case 2400:
    case 9600:
    case 19200:
    case 38400:
    case 57600:
    case 115200:
      return baud;
    default:
      return 4800;
  }
}

// COMn (any letter case) through the device namespace, the only form
// CreateFile takes from COM10 up; a path (\\.\COM12, \\.\CNCA0) as given;
// any other name as a device of that name.
std::string DevicePath(const std::string& name) {
  if (const unsigned number = ComNumber(name); number != 0) return "\\\\.\\COM" + std::to_string(number);
  if (name.starts_with("\\\\")) return name;
  return "\\\\.\\" + name;
}

}  // namespace

struct DeviceLine::System {
  HANDLE port = INVALID_HANDLE_VALUE;
  HANDLE writeDone = nullptr;  // manual-reset event of the write in flight
  OVERLAPPED write{};
  bool writing = false;
  std::size_t writeSize = 0;
  std::array<std::uint8_t, kWriteBufferSize> writeBuffer{};

  ~System() {
    Close();
    if (writeDone != nullptr) ::CloseHandle(writeDone);
  }

  // True when no write is in flight any more (the one that was has finished).
  bool WriteFinished() {
    if (!writing) return true;
    if (!HasOverlappedIoCompleted(&write)) return false;
    DWORD written = 0;
    ::GetOverlappedResult(port, &write, &written, FALSE);
    writing = false;
    return true;
  }

  // The system writes from the buffer until the write has finished: wait for
  // that after cutting it short.
  void AbortWrite() {
    if (!writing) return;
    ::PurgeComm(port, PURGE_TXABORT | PURGE_TXCLEAR);
    if (::WaitForSingleObject(writeDone, kAbortWaitMs) != WAIT_OBJECT_0) ::CancelIo(port);
    DWORD written = 0;
    ::GetOverlappedResult(port, &write, &written, TRUE);
    writing = false;
  }

  void Close() {
    if (port == INVALID_HANDLE_VALUE) return;
    AbortWrite();
    // The host sees the handshake lines drop, as with a pulled cable.
    ::EscapeCommFunction(port, CLRDTR);
    ::EscapeCommFunction(port, CLRRTS);
    ::CloseHandle(port);
    port = INVALID_HANDLE_VALUE;
  }
};

DeviceLine::DeviceLine(std::unique_ptr<System> system, std::string hostPath)
    : system_(std::move(system)), hostPath_(std::move(hostPath)) {}

DeviceLine::~DeviceLine() = default;

bool DeviceLine::isPseudoTerminal() const { return false; }

std::unique_ptr<DeviceLine> DeviceLine::OpenSerialPort(const std::string& path, unsigned baud, std::string& error) {
  auto system = std::make_unique<System>();
  system->writeDone = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (system->writeDone == nullptr) {
    error = SystemError("cannot create an event", ::GetLastError());
    return nullptr;
  }
  const std::wstring wide = win32::Widen(DevicePath(path));
  system->port = ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0 /* no sharing */, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED, nullptr);
  if (system->port == INVALID_HANDLE_VALUE) {
    error = SystemError(Printable(path), ::GetLastError(), true);
    return nullptr;
  }
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!::GetCommState(system->port, &dcb)) {
    error = Printable(path) + " is not a serial port";
    return nullptr;
  }
  // Raw 8-bit bytes at the speed asked for, 8N1, no flow control of either
  // kind and no character taken out: frames pass unchanged.
  dcb.BaudRate = SpeedFor(baud);
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fBinary = 1;
  dcb.fParity = 0;
  dcb.fOutxCtsFlow = 0;
  dcb.fOutxDsrFlow = 0;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fDsrSensitivity = 0;
  dcb.fOutX = 0;
  dcb.fInX = 0;
  dcb.fErrorChar = 0;
  dcb.fNull = 0;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fAbortOnError = 0;
  // Reads return at once with what the driver holds; writes never time out.
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  if (!::SetCommState(system->port, &dcb) || !::SetCommTimeouts(system->port, &timeouts)) {
    error = SystemError("cannot configure " + Printable(path), ::GetLastError());
    return nullptr;
  }
  ::PurgeComm(system->port, PURGE_RXCLEAR | PURGE_TXCLEAR);
  return std::unique_ptr<DeviceLine>(new DeviceLine(std::move(system), path));
}

void DeviceLine::HangUp() { system_->Close(); }

bool DeviceLine::Wait(bool toWrite, std::chrono::milliseconds timeout) {
  // A COM port has nothing to wait on for both bytes and room at once:
  // look, then sleep a millisecond, until either or the time is up.
  const auto until = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (system_->port == INVALID_HANDLE_VALUE) return true;
    DWORD errors = 0;
    COMSTAT status{};
    if (!::ClearCommError(system_->port, &errors, &status)) return true;  // the adapter was pulled
    if (status.cbInQue > 0) return false;
    if (toWrite && system_->WriteFinished()) return false;
    if (std::chrono::steady_clock::now() >= until) return false;
    ::Sleep(1);
  }
}

std::ptrdiff_t DeviceLine::Read(std::uint8_t* buffer, std::size_t size) {
  System& line = *system_;
  if (line.port == INVALID_HANDLE_VALUE) return -1;
  DWORD errors = 0;
  COMSTAT status{};
  if (!::ClearCommError(line.port, &errors, &status)) return -1;
  // Only what is there: the read finishes at once.
  const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(size, status.cbInQue));
  if (wanted == 0) return 0;
  OVERLAPPED overlapped{};
  overlapped.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (overlapped.hEvent == nullptr) return 0;
  DWORD got = 0;
  bool ok = ::ReadFile(line.port, buffer, wanted, &got, &overlapped) != 0;
  if (!ok && ::GetLastError() == ERROR_IO_PENDING) {
    // The buffer is the caller's: the read must not outlive this call.
    if (::WaitForSingleObject(overlapped.hEvent, kAbortWaitMs) != WAIT_OBJECT_0) ::CancelIo(line.port);
    ok = ::GetOverlappedResult(line.port, &overlapped, &got, TRUE) != 0;
    if (!ok) got = static_cast<DWORD>(overlapped.InternalHigh);
    ok = ok || got > 0;
  }
  ::CloseHandle(overlapped.hEvent);
  return ok ? static_cast<std::ptrdiff_t>(got) : -1;
}

std::ptrdiff_t DeviceLine::Write(const std::uint8_t* bytes, std::size_t count) {
  System& line = *system_;
  if (line.port == INVALID_HANDLE_VALUE) return -1;
  if (count == 0 || !line.WriteFinished()) return 0;
  const std::size_t taken = std::min(count, line.writeBuffer.size());
  std::memcpy(line.writeBuffer.data(), bytes, taken);
  line.write = OVERLAPPED{};
  line.write.hEvent = line.writeDone;
  ::ResetEvent(line.writeDone);
  line.writeSize = taken;
  DWORD written = 0;
  if (::WriteFile(line.port, line.writeBuffer.data(), static_cast<DWORD>(taken), &written, &line.write)) {
    return static_cast<std::ptrdiff_t>(taken);
  }
  if (::GetLastError() != ERROR_IO_PENDING) return -1;
  line.writing = true;
  return static_cast<std::ptrdiff_t>(taken);
}

std::size_t DeviceLine::UnreadByHost() const {
  System& line = *system_;
  if (line.port == INVALID_HANDLE_VALUE) return 0;
  // The bytes not yet through the transmitter: a write still in flight, and
  // those the driver holds.
  std::size_t waiting = line.WriteFinished() ? 0 : line.writeSize;
  DWORD errors = 0;
  COMSTAT status{};
  if (::ClearCommError(line.port, &errors, &status)) waiting += status.cbOutQue;
  return waiting;
}

void DeviceLine::DiscardUnread() {
  if (system_->port == INVALID_HANDLE_VALUE) return;
  system_->AbortWrite();
  ::PurgeComm(system_->port, PURGE_TXCLEAR);
}

void DeviceLine::KeepOpenableByHost() {}

}  // namespace tarnwick::device
