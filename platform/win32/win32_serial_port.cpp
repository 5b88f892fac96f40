#include "win32_serial_port.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "serial_devices.h"
#include "system_error_text.h"
#include "wide_text.h"

namespace tarnwick::win32 {

namespace {
constexpr DWORD kBaudRate = 4800;
constexpr BYTE kByteSize = 8;
// Sleep between looks while cancelled writes finish; a cancel is prompt.
constexpr DWORD kCancelPollMs = 1;
constexpr int kCancelPolls = 200;

// What CreateFile's refusal says. A held port and a lack of rights both come
// as ERROR_ACCESS_DENIED; see the header for why it counts as held.
PortErrorKind KindAtOpen(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_BAD_UNIT:
    case ERROR_DEV_NOT_EXIST:
      return PortErrorKind::NotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return PortErrorKind::InUse;
    default:
      return PortErrorKind::Other;
  }
}

// What a refusal of the open port says: a USB adapter pulled makes its driver
// refuse every call with one of these.
PortErrorKind KindWhenOpen(DWORD code) {
  switch (code) {
    case ERROR_OPERATION_ABORTED:
    case ERROR_BAD_COMMAND:
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_GEN_FAILURE:
    case ERROR_FILE_NOT_FOUND:
      return PortErrorKind::Gone;
    default:
      return PortErrorKind::Other;
  }
}

}  // namespace

Win32SerialPort::~Win32SerialPort() { Close(); }

bool Win32SerialPort::Open(const char* portName) {
  // One port at a time: a handle still held here would otherwise leak.
  Close();
  failed_ = false;
  lastError_[0] = '\0';
  errorKind_ = PortErrorKind::None;
  errorCode_ = 0;
  std::snprintf(name_.data(), name_.size(), "%s", portName != nullptr ? portName : "");
  // A COM name goes through the device namespace ("\\.\COM12"), the only
  // form CreateFile takes from COM10 up; COM1 to COM4 may be mapped elsewhere.
  const char* path = portName;
  std::array<char, 32> comPath{};
  if (const unsigned number = ComNumber(portName); number != 0) {
    if (number <= targets_.size() && targets_[number - 1][0] != '\0') {
      path = targets_[number - 1].data();
    } else {
      std::snprintf(comPath.data(), comPath.size(), "\\\\.\\COM%u", number);
      path = comPath.data();
    }
  }
  // Names are UTF-8; converted on the stack, as a scan opens ports while a run goes.
  std::array<wchar_t, 512> widePath{};
  if (!WidenInto(path, widePath.data(), widePath.size())) {
    SetError(PortErrorKind::NotFound, ERROR_FILENAME_EXCED_RANGE, true);
    return false;
  }
  handle_ = ::CreateFileW(widePath.data(), GENERIC_READ | GENERIC_WRITE, 0 /* no sharing */, nullptr, OPEN_EXISTING,
                          FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle_ == INVALID_HANDLE_VALUE) {
    const DWORD code = ::GetLastError();
    SetError(KindAtOpen(code), code, true);
    return false;
  }
  // Before anything changes: what Close gives back. A handle without them is
  // no serial port.
  foundState_ = DCB{};
  foundState_.DCBlength = sizeof foundState_;
  foundTimeouts_ = COMMTIMEOUTS{};
  if (!::GetCommState(handle_, &foundState_) || !::GetCommTimeouts(handle_, &foundTimeouts_)) {
    SetError(PortErrorKind::NotATerminal, ::GetLastError(), false);
    ::CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    return false;
  }
  readDone_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  // What waits on the line is not this run's: a run cut short leaves the
  // device's requests to it behind, and answered now they would take the
  // device through wrong blocks. The line starts clean, before the handshake.
  ::PurgeComm(handle_, PURGE_RXCLEAR);
  return true;
}

void Win32SerialPort::MapPort(std::size_t index, const char* device) {
  if (index >= targets_.size()) return;
  std::array<char, 16>& target = targets_[index];
  if (device == nullptr || *device == '\0') {
    target[0] = '\0';
    return;
  }
  std::snprintf(target.data(), target.size(), "\\\\.\\%s", device);
}

bool Win32SerialPort::Configure() {
  if (!IsOpen()) {
    std::snprintf(lastError_.data(), lastError_.size(), "the port is not open");
    errorKind_ = PortErrorKind::Other;
    errorCode_ = 0;
    return false;
  }
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  // Without the port's own settings there is nothing to keep; write nothing
  // rather than a made-up set of flow-control and character values.
  if (!::GetCommState(handle_, &dcb)) {
    RememberError(::GetLastError());
    return false;
  }
  dcb.BaudRate = kBaudRate;
  dcb.ByteSize = kByteSize;
  dcb.StopBits = ONESTOPBIT;
  dcb.fBinary = 1;
  dcb.fParity = 0;
  dcb.fRtsControl = RTS_CONTROL_DISABLE;
  if (!::SetCommState(handle_, &dcb)) {
    RememberError(::GetLastError());
    return false;
  }
  ::ClearCommBreak(handle_);
  return true;
}

std::ptrdiff_t Win32SerialPort::Write(const std::uint8_t* data, std::size_t length) {
  if (!IsOpen() || failed_) return -1;
  if (length == 0) return 0;
  ReapWrites();
  const auto free =
      std::find_if(writeSlots_.begin(), writeSlots_.end(), [](const WriteSlot& slot) { return !slot.busy; });
  if (free == writeSlots_.end()) return 0;  // the caller keeps the bytes until a slot frees

  const std::size_t taken = std::min(length, kWriteSlotSize);
  std::memcpy(free->bytes.data(), data, taken);
  free->overlapped = OVERLAPPED{};
  DWORD written = 0;
  if (::WriteFile(handle_, free->bytes.data(), static_cast<DWORD>(taken), &written, &free->overlapped)) {
    return static_cast<std::ptrdiff_t>(taken);  // done at once; the slot stays free
  }
  if (::GetLastError() == ERROR_IO_PENDING) {
    free->busy = true;
    return static_cast<std::ptrdiff_t>(taken);
  }
  // The port refused the write outright (it has gone, or the handle is bad).
  Fail(::GetLastError());
  return -1;
}

std::size_t Win32SerialPort::BytesWaiting() {
  if (!IsOpen() || failed_) return 0;
  ReapWrites();
  commStatus_ = COMSTAT{};
  if (!::ClearCommError(handle_, &commErrors_, &commStatus_)) {
    // A USB adapter pulled out: the driver refuses every call on the handle.
    Fail(::GetLastError());
    return 0;
  }
  return commStatus_.cbInQue;
}

std::size_t Win32SerialPort::Read(std::uint8_t* out, std::size_t count) {
  if (!IsOpen() || count == 0) return 0;
  readOverlapped_ = OVERLAPPED{};
  readOverlapped_.hEvent = readDone_;
  if (readDone_ != nullptr) ::ResetEvent(readDone_);
  DWORD got = 0;
  if (::ReadFile(handle_, out, static_cast<DWORD>(count), &got, &readOverlapped_)) return got;
  const DWORD error = ::GetLastError();
  if (error != ERROR_IO_PENDING) {
    Fail(error);
    return 0;
  }

  // The bytes asked for were already waiting, so the read completes at once,
  // even where the port reports it pending. It must not outlive this call:
  // the buffer is the caller's. Should it not finish in time, cancel it and
  // take whatever it delivered.
  if (readDone_ == nullptr || ::WaitForSingleObject(readDone_, kReadCompletionMs) != WAIT_OBJECT_0) {
    ::CancelIo(handle_);
  }
  got = 0;
  if (!::GetOverlappedResult(handle_, &readOverlapped_, &got, TRUE)) {
    // A cancelled read still reports the bytes it moved before the cancel.
    return static_cast<std::size_t>(readOverlapped_.InternalHigh);
  }
  return got;
}

void Win32SerialPort::Close() {
  if (!IsOpen()) return;
  AbandonWrites();
  // The settings as they were found. Neither call waits for the line; a port
  // that has gone away refuses both at once.
  ::SetCommState(handle_, &foundState_);
  ::SetCommTimeouts(handle_, &foundTimeouts_);
  ::CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
  if (readDone_ != nullptr) ::CloseHandle(readDone_);
  readDone_ = nullptr;
}

std::size_t Win32SerialPort::WritesInFlight() const {
  return static_cast<std::size_t>(
      std::count_if(writeSlots_.begin(), writeSlots_.end(), [](const WriteSlot& slot) { return slot.busy; }));
}

void Win32SerialPort::ReapWrites() {
  for (WriteSlot& slot : writeSlots_) {
    if (!slot.busy || !HasOverlappedIoCompleted(&slot.overlapped)) continue;
    DWORD written = 0;
    ::GetOverlappedResult(handle_, &slot.overlapped, &written, FALSE);
    slot.busy = false;
  }
}

void Win32SerialPort::AbandonWrites() {
  ReapWrites();
  if (WritesInFlight() == 0) return;
  // The system writes into a slot's record until its write has finished, so
  // no slot may be reused before that; a cancel makes them finish promptly.
  ::CancelIo(handle_);
  for (int poll = 0; poll < kCancelPolls && WritesInFlight() > 0; ++poll) {
    ::Sleep(kCancelPollMs);
    ReapWrites();
  }
  for (WriteSlot& slot : writeSlots_) slot.busy = false;
}

void Win32SerialPort::Fail(DWORD code) {
  failed_ = true;
  RememberError(code);
}

void Win32SerialPort::RememberError(DWORD code) { SetError(KindWhenOpen(code), code, false); }

void Win32SerialPort::SetError(PortErrorKind kind, DWORD code, bool opening) {
  errorKind_ = kind;
  errorCode_ = code;
  std::size_t used = 0;
  if (name_[0] != '\0') {
    const int length = std::snprintf(lastError_.data(), lastError_.size(), "%s: ", name_.data());
    used = length > 0 ? std::min(static_cast<std::size_t>(length), lastError_.size() - 1) : 0;
  }
  if (opening) {
    PortOpenErrorText(code, lastError_.data() + used, lastError_.size() - used);
  } else {
    SystemErrorText(code, lastError_.data() + used, lastError_.size() - used);
  }
}

}  // namespace tarnwick::win32
