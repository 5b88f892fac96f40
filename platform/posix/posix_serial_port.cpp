#include "posix_serial_port.h"
#include "serial_devices.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "line_settings.h"
#include "port_holders.h"

namespace tarnwick {
namespace {

std::string Describe(const std::string& path, int error) { return path + ": " + std::strerror(error); }

// Errors that only say "not now"; any other means the port is gone.
bool IsPassing(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

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
  if (path.empty()) {
    lastError_ = std::string("no serial device is mapped to ") + name;
    return false;
  }

  // O_NONBLOCK also keeps the open itself from waiting for carrier detect.
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    lastError_ = Describe(path, errno);
    return false;
  }
  if (!::isatty(fd)) {
    lastError_ = path + ": not a serial port";
    ::close(fd);
    return false;
  }
  // Before anything changes: what Close gives back.
  termios found{};
  if (::tcgetattr(fd, &found) != 0) {
    lastError_ = Describe(path, errno);
    ::close(fd);
    return false;
  }
  // A program that opened the port without locking it would share the line.
  if (const std::optional<PortHolder> holder = FindOtherHolder(path)) {
    lastError_ = path + ": in use by " + holder->name + " (pid " + std::to_string(holder->pid) + ")";
    ::close(fd);
    return false;
  }
  // The lock comes before TIOCEXCL so that a failed open leaves the port as
  // it found it.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    lastError_ = error == EWOULDBLOCK ? path + ": in use by another program" : Describe(path, error);
    ::close(fd);
    return false;
  }
  if (::ioctl(fd, TIOCEXCL) != 0) {
    lastError_ = Describe(path, errno);
    ::close(fd);
    return false;
  }
  fd_ = fd;
  found_ = found;
  path_ = path;
  lastError_.clear();
  return true;
}

bool PosixSerialPort::Configure() {
  if (fd_ < 0) {
    lastError_ = "the port is not open";
    return false;
  }
  termios settings{};
  if (::tcgetattr(fd_, &settings) != 0) {
    lastError_ = Describe(path_, errno);
    return false;
  }
  MakeLineSettings(settings);
  if (::tcsetattr(fd_, TCSANOW, &settings) != 0) {
    lastError_ = Describe(path_, errno);
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
  lastError_ = Describe(path_, error);
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
