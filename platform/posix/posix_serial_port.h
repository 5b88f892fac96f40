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
// LastError is one line, "PATH: WHY", naming the device once; its owner
// shows it as it stands and does not put the path in front of it again.
// LastPortError gives the kind of that error with errno.
//
// The terminal's settings are read at open, before anything is changed, and
// written back at close (by Close or the destructor, whatever ended the run),
// so that a console or modem port is left as the next program expects it.
#pragma once

#include <termios.h>

#include <array>
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
  PortError LastPortError() const override;
  // The device the last Open tried (the open port's while it is open); empty
  // when the name stood for none.
  const std::string& path() const { return path_; }

 private:
  void CheckForHangUp();
  void Fail(int error);
  // Sets both the text and the kind of the last error.
  void SetError(std::string text, PortErrorKind kind, int code);
  // An open that got as far as a descriptor and failed after: closes it.
  bool FailOpen(int fd, std::string text, PortErrorKind kind, int code);

  PortMap map_;
  int fd_ = -1;
  bool failed_ = false;
  termios found_{};  // the open port's settings as it was found
  std::string path_;
  std::string lastError_;
  PortErrorKind errorKind_ = PortErrorKind::None;
  int errorCode_ = 0;
  long holderPid_ = 0;
  std::array<char, 64> holderName_{};  // a command name is at most 15 characters
};

}  // namespace tarnwick
