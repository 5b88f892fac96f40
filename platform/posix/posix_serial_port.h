// The serial port on POSIX systems, on termios.
//
// Operator names ("COM1".."COM4") go through a PortMap to device paths. A port
// is opened without blocking and without becoming the controlling terminal,
// and exclusively: TIOCEXCL keeps other programs out, an advisory flock keeps
// out other copies of this program (and anything else that locks ports).
// Every call returns at once. A device that goes away while open (a USB
// adapter pulled, the far end of a pseudo-terminal closed) fails writes and
// hangs up the line; either makes the port report that it has failed.
//
// The terminal's settings are read at open, before anything is changed, and
// written back at close (by Close or the destructor, whatever ended the run),
// so that a console or modem port is left as the next program expects it.
#pragma once

#include <termios.h>

#include <string>

#include "port_map.h"
#include "serial_port.h"

namespace tarnwick {

class PosixSerialPort final : public SerialPort {
 public:
  explicit PosixSerialPort(PortMap map);
  ~PosixSerialPort() override;
  PosixSerialPort(const PosixSerialPort&) = delete;
  PosixSerialPort& operator=(const PosixSerialPort&) = delete;

  bool Open(const char* portName) override;
  bool Configure() override;
  std::ptrdiff_t Write(const std::uint8_t* data, std::size_t length) override;
  std::size_t BytesWaiting() override;
  std::size_t Read(std::uint8_t* out, std::size_t count) override;
  void Close() override;
  bool HasFailed() const override { return failed_; }
  const char* LastError() const override { return lastError_.c_str(); }

 private:
  void CheckForHangUp();
  void Fail(int error);

  PortMap map_;
  int fd_ = -1;
  bool failed_ = false;
  termios found_{};  // the open port's settings as it was found
  std::string path_;  // of the open port
  std::string lastError_;
};

}  // namespace tarnwick
