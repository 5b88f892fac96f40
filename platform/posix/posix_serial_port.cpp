#include "posix_serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "line_settings.h"
#include "port_holders.h"
#include "serial_devices.h"

namespace tarnwick {
namespace {

std::string Describe(const std::string& path, int error) { return path + ": " + std::strerror(error); }

// Errors that only say "not now"; any other means the port is gone.
bool IsPassing(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

// What an error of open(), or of the first calls on what it opened, says.
PortErrorKind KindAtOpen(int error) {
  switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:  // a device node with no driver or no device behind it
    case ENOTDIR:
      return PortErrorKind::NotFound;
    case EACCES:
    case EPERM:
      return PortErrorKind::PermissionDenied;
    case EBUSY:  // another program set the terminal's exclusive mode
      return PortErrorKind::InUse;
    case ENOTTY:
      return PortErrorKind::NotATerminal;
    default:
      return PortErrorKind::Other;
  }
}

// What an error on the open port says: a device that went away fails with
// EIO, ENXIO or ENODEV.
PortErrorKind KindWhenOpen(int error) {
  switch (error) {
    case EIO:
    case ENXIO:
    case ENODEV:
      return PortErrorKind::Gone;
    case ENOTTY:
      return PortErrorKind::NotATerminal;
    case EACCES:
    case EPERM:
      return PortErrorKind::PermissionDenied;
    default:
      return PortErrorKind::Other;
  }
}

}  // namespace

PosixSerialPort::PosixSerialPort(PortMap map) : map_(std::move(map)) {}

PosixSerialPort::~PosixSerialPort() { Close(); }

bool PosixSerialPort::Open(const char* portName) {
  Close();  // never leak a descriptor, whatever the caller did before
  failed_ = false;
  const char* name = portName != nullptr ? portName : "";
  // The operator's COM names go through the map; anything else is a path.
  const bool comName = ComNumber(name) != 0;
  const std::string path = comName ? map_.DeviceFor(name) : std::string(name);
  path_ = path;
  if (path.empty()) {
    SetError(std::string("no serial device is mapped to ") + name, PortErrorKind::NotFound, 0);
    return false;
  }

  // O_NONBLOCK also keeps the open itself from waiting for carrier detect.
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    SetError(Describe(path, error), KindAtOpen(error), error);
    return false;
  }
  if (!::isatty(fd)) {
    const int error = errno;  // ENOTTY, or EINVAL on some systems
    return FailOpen(fd, path + ": not a serial port", PortErrorKind::NotATerminal, error);
  }
  // Before anything changes: what Close gives back.
  termios found{};
  if (::tcgetattr(fd, &found) != 0) {
    const int error = errno;
    return FailOpen(fd, Describe(path, error), KindAtOpen(error), error);
  }
  // A program that opened the port without locking it would share the line.
  if (const std::optional<PortHolder> holder = FindOtherHolder(path)) {
    // No call failed: the code stays 0, and the holder is told instead.
    FailOpen(fd, path + ": in use by " + holder->name + " (pid " + std::to_string(holder->pid) + ")",
             PortErrorKind::InUse, 0);
    holderPid_ = holder->pid;
    const std::size_t length = std::min(holder->name.size(), holderName_.size() - 1);
    holder->name.copy(holderName_.data(), length);
    holderName_[length] = '\0';
    return false;
  }
  // The lock comes before TIOCEXCL so that a failed open leaves the port as
  // it found it.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    return error == EWOULDBLOCK ? FailOpen(fd, path + ": in use by another program", PortErrorKind::InUse, error)
                                : FailOpen(fd, Describe(path, error), KindAtOpen(error), error);
  }
  if (::ioctl(fd, TIOCEXCL) != 0) {
    const int error = errno;
    return FailOpen(fd, Describe(path, error), KindAtOpen(error), error);
  }
  // What waits on the line is not this run's: a run cut short leaves the
  // device's requests to it behind, and answered now they would take the
  // device through wrong blocks. The line starts clean, before the handshake.
  ::tcflush(fd, TCIFLUSH);
  fd_ = fd;
  found_ = found;
  SetError({}, PortErrorKind::None, 0);
  return true;
}

bool PosixSerialPort::FailOpen(int fd, std::string text, PortErrorKind kind, int code) {
  ::close(fd);
  SetError(std::move(text), kind, code);
  return false;
}

void PosixSerialPort::SetError(std::string text, PortErrorKind kind, int code) {
  lastError_ = std::move(text);
  errorKind_ = kind;
  errorCode_ = code;
  holderPid_ = 0;
  holderName_[0] = '\0';
}

PortError PosixSerialPort::LastPortError() const {
  PortError error;
  error.kind = errorKind_;
  error.code = errorCode_;
  error.holderPid = holderPid_;
  error.holderName = holderName_.data();
  return error;
}

bool PosixSerialPort::Configure() {
  if (fd_ < 0) {
    SetError("the port is not open", PortErrorKind::Other, 0);
    return false;
  }
  termios settings{};
  if (::tcgetattr(fd_, &settings) != 0) {
    const int error = errno;
    SetError(Describe(path_, error), KindWhenOpen(error), error);
    return false;
  }
  MakeLineSettings(settings);
  if (::tcsetattr(fd_, TCSANOW, &settings) != 0) {
    const int error = errno;
    SetError(Describe(path_, error), KindWhenOpen(error), error);
    return false;
  }
  // Pseudo-terminals have no modem lines and refuse this (ENOTTY or EINVAL).
  int rts = TIOCM_RTS;
  ::ioctl(fd_, TIOCMBIC, &rts);
  ::ioctl(fd_, TIOCCBRK);
  return true;
}

std::ptrdiff_t PosixSerialPort::Write(const std::uint8_t* data, std::size_t length) {
  if (fd_ < 0) return -1;
  if (length == 0) return 0;
  if (failed_) return -1;
  // A terminal never raises SIGPIPE; a device that went away fails with EIO or ENXIO.
  const ssize_t written = ::write(fd_, data, length);
  if (written >= 0) return written;
  if (IsPassing(errno)) return 0;
  Fail(errno);
  return -1;
}

std::size_t PosixSerialPort::BytesWaiting() {
  if (fd_ < 0 || failed_) return 0;
  int waiting = 0;
  if (::ioctl(fd_, FIONREAD, &waiting) != 0) {
    if (!IsPassing(errno)) Fail(errno);
    return 0;
  }
  if (waiting > 0) return static_cast<std::size_t>(waiting);
  // Nothing waiting: a line that has hung up (an adapter pulled, the far end
  // of a pseudo-terminal closed) says so only through poll.
  CheckForHangUp();
  return 0;
}

std::size_t PosixSerialPort::Read(std::uint8_t* out, std::size_t count) {
  if (fd_ < 0 || failed_ || count == 0) return 0;
  const ssize_t got = ::read(fd_, out, count);
  if (got > 0) return static_cast<std::size_t>(got);
  if (got < 0 && !IsPassing(errno)) {
    Fail(errno);
  } else {
    CheckForHangUp();  // 0 is the end of a line that hung up
  }
  return 0;
}

void PosixSerialPort::CheckForHangUp() {
  pollfd entry{fd_, POLLIN, 0};
  if (::poll(&entry, 1, 0) <= 0) return;
  if ((entry.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) Fail(EIO);
}

void PosixSerialPort::Fail(int error) {
  failed_ = true;
  SetError(Describe(path_, error), KindWhenOpen(error), error);
}

void PosixSerialPort::Close() {
  if (fd_ < 0) return;
  // The settings as they were found, at once: TCSANOW waits for no output to
  // drain. A port that has gone away refuses this straight away (EIO), and
  // there is nothing left to give back.
  ::tcsetattr(fd_, TCSANOW, &found_);
  // Another program may still hold the terminal open; don't leave it locked
  // against everyone once we are done with it.
  ::ioctl(fd_, TIOCNXCL);
  ::close(fd_);  // also releases the flock
  fd_ = -1;
}

}  // namespace tarnwick
