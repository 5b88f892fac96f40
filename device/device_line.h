// The device's end of the serial line: on UNIX either a pseudo-terminal it
// creates (the host opens the other end's path as if it were a serial port)
// or a real serial port; on Windows a COM port (a second adapter with a
// null-modem cable to the host's, or one end of a virtual port pair). Every
// call but Wait returns at once.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tarnwick::device {

class DeviceLine {
 public:
#ifndef _WIN32
  // A new pseudo-terminal in raw mode. nullptr and `error` set on failure.
  static std::unique_ptr<DeviceLine> OpenPseudoTerminal(std::string& error);
#endif
  // A real serial port in raw mode at `baud` (4800 when 0 or not a standard
  // speed), 8 data bits, no parity, one stop bit, no flow control. On Windows
  // `path` is a COM name (COM5) or a device path (\\.\COM12), in UTF-8.
  static std::unique_ptr<DeviceLine> OpenSerialPort(const std::string& path, unsigned baud, std::string& error);

  ~DeviceLine();
  DeviceLine(const DeviceLine&) = delete;
  DeviceLine& operator=(const DeviceLine&) = delete;

  // What the host opens: the pseudo-terminal's serial end, or the port itself.
  const std::string& hostPath() const { return hostPath_; }
  bool isPseudoTerminal() const;

  // Waits at most `timeout` until the line has bytes to read or, with
  // `toWrite`, takes bytes to write. True when the line reports a failure
  // (a port that went away), so that the caller backs off instead of spinning.
  bool Wait(bool toWrite, std::chrono::milliseconds timeout);

  // Reads what is waiting: the number of bytes, 0 when none, -1 when the line
  // has failed (a port that went away); never waits.
  std::ptrdiff_t Read(std::uint8_t* buffer, std::size_t size);
  // Writes what the line takes now: the number of bytes, 0 when it is full, -1 on failure.
  std::ptrdiff_t Write(const std::uint8_t* bytes, std::size_t count);

  // Bytes written that the host has not yet read (still on their way out of a real port).
  std::size_t UnreadByHost() const;
  // Drops those bytes.
  void DiscardUnread();
  // Closes the line for good, as a pulled adapter or cable would: on a
  // pseudo-terminal both descriptors go, so that the host's end hangs up
  // (poll reports POLLHUP, reads and writes fail); on a port the handshake
  // lines drop with it. Reads and writes fail from then on.
  void HangUp();
  // The host marks its port for exclusive use. On a real port the mark ends
  // with the host's last close, but this pseudo-terminal stays open on the
  // device's side, so the mark of a host that ended without clearing it (one
  // that was killed) would outlive it and refuse its next open. Clears the
  // mark only when no host holds the line: a host holds its advisory lock for
  // as long as it has the port open, and while it does, its mark stays and
  // keeps other programs off the line. Nothing to do on a port.
  void KeepOpenableByHost();

 private:
  struct System;  // the line's handles, as each system has them
  DeviceLine(std::unique_ptr<System> system, std::string hostPath);

  std::unique_ptr<System> system_;
  std::string hostPath_;
};

}  // namespace tarnwick::device
