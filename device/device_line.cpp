#include "device_line.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace tarnwick::device {

namespace {

std::string SystemError(const std::string& what) { return what + ": " + std::strerror(errno); }

speed_t SpeedFor(unsigned baud) {
  switch (baud) {
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    default:
      return B4800;
  }
}

// Raw 8-bit bytes, no echo, no flow control, no translation: frames pass unchanged.
bool MakeRaw(int fd, speed_t speed) {
  termios settings{};
  if (tcgetattr(fd, &settings) != 0) return false;
  cfmakeraw(&settings);
  settings.c_cflag |= CLOCAL | CREAD;
  settings.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS);
  settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  settings.c_cc[VMIN] = 0;
  settings.c_cc[VTIME] = 0;
  cfsetispeed(&settings, speed);
  cfsetospeed(&settings, speed);
  return tcsetattr(fd, TCSANOW, &settings) == 0;
}

}  // namespace

struct DeviceLine::System {
  int fd;
  // A descriptor of the pseudo-terminal's serial end, held so that the host
  // can close and reopen it without the line hanging up, and so that what
  // the host has not read can be counted; -1 on a real port.
  int hostSideFd;
};

DeviceLine::DeviceLine(std::unique_ptr<System> system, std::string hostPath)
    : system_(std::move(system)), hostPath_(std::move(hostPath)) {}

DeviceLine::~DeviceLine() { HangUp(); }

bool DeviceLine::isPseudoTerminal() const { return system_->hostSideFd >= 0; }

void DeviceLine::HangUp() {
  if (system_->hostSideFd >= 0) close(system_->hostSideFd);
  if (system_->fd >= 0) close(system_->fd);
  system_->hostSideFd = -1;
  system_->fd = -1;
}

bool DeviceLine::Wait(bool toWrite, std::chrono::milliseconds timeout) {
  pollfd entry{system_->fd, static_cast<short>(POLLIN | (toWrite ? POLLOUT : 0)), 0};
  const int ready = poll(&entry, 1, static_cast<int>(std::max<long long>(0, timeout.count())));
  return ready > 0 && (entry.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
}

std::unique_ptr<DeviceLine> DeviceLine::OpenPseudoTerminal(std::string& error) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) {
    error = SystemError("cannot create a pseudo-terminal");
    return nullptr;
  }
  std::array<char, 128> name{};
  if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name.data(), name.size()) != 0) {
    error = SystemError("cannot set up the pseudo-terminal");
    close(master);
    return nullptr;
  }
  const int hostSide = open(name.data(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (hostSide < 0) {
    error = SystemError(std::string("cannot open ") + name.data());
    close(master);
    return nullptr;
  }
  // The line discipline sits on the serial end: without raw mode it would
  // echo, translate and take 0x11/0x13 as flow control.
  if (!MakeRaw(hostSide, B4800) || fcntl(master, F_SETFL, O_NONBLOCK) != 0) {
    error = SystemError("cannot configure the pseudo-terminal");
    close(hostSide);
    close(master);
    return nullptr;
  }
  return std::unique_ptr<DeviceLine>(new DeviceLine(std::make_unique<System>(System{master, hostSide}), name.data()));
}

std::unique_ptr<DeviceLine> DeviceLine::OpenSerialPort(const std::string& path, unsigned baud, std::string& error) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = SystemError(path);
    return nullptr;
  }
  if (!isatty(fd) || !MakeRaw(fd, SpeedFor(baud))) {
    error = path + " is not a serial port";
    close(fd);
    return nullptr;
  }
  tcflush(fd, TCIOFLUSH);
  return std::unique_ptr<DeviceLine>(new DeviceLine(std::make_unique<System>(System{fd, -1}), path));
}

std::ptrdiff_t DeviceLine::Read(std::uint8_t* buffer, std::size_t size) {
  const ssize_t got = read(system_->fd, buffer, size);
  if (got >= 0) return got;
  if (errno == EAGAIN || errno == EINTR) return 0;
  return -1;  // a port that went away
}

std::ptrdiff_t DeviceLine::Write(const std::uint8_t* bytes, std::size_t count) {
  const ssize_t written = write(system_->fd, bytes, count);
  if (written >= 0) return written;
  if (errno == EAGAIN || errno == EINTR) return 0;
  return -1;
}

std::size_t DeviceLine::UnreadByHost() const {
  int waiting = 0;
  // On a pseudo-terminal: the bytes queued for the host's reads; on a port:
  // the bytes not yet through the transmitter.
  const int ok =
      isPseudoTerminal() ? ioctl(system_->hostSideFd, FIONREAD, &waiting) : ioctl(system_->fd, TIOCOUTQ, &waiting);
  return ok == 0 && waiting > 0 ? static_cast<std::size_t>(waiting) : 0;
}

void DeviceLine::DiscardUnread() {
  if (isPseudoTerminal()) {
    tcflush(system_->hostSideFd, TCIFLUSH);
  } else {
    tcflush(system_->fd, TCOFLUSH);
  }
}

void DeviceLine::KeepOpenableByHost() {
  if (!isPseudoTerminal()) return;
  int exclusive = 0;
  if (ioctl(system_->hostSideFd, TIOCGEXCL, &exclusive) != 0 || exclusive == 0) return;
  // The lock is taken on the device's own descriptor of the serial end, so it
  // is refused while a host holds it. Taken, it is held until the mark is
  // gone: a host opening meanwhile is refused and cannot have its new mark
  // cleared by this one.
  if (flock(system_->hostSideFd, LOCK_EX | LOCK_NB) != 0) return;
  ioctl(system_->hostSideFd, TIOCNXCL);
  flock(system_->hostSideFd, LOCK_UN);
}

}  // namespace tarnwick::device
