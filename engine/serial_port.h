// What the engine needs of a serial port. Each platform has a real backend;
// no call may block or wait for the line.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarnwick {

// What kind of failure a port's last error was, so that its owner can advise
// and decide without reading the system's words.
enum class PortErrorKind {
  None,              // no error
  NotFound,          // nothing by that name
  PermissionDenied,  // this user may not open it
  InUse,             // another program holds it
  NotATerminal,      // it opened, but it is no serial port
  Gone,              // the device behind the open port went away
  Other,
};

struct PortError {
  PortErrorKind kind = PortErrorKind::None;
  long code = 0;       // the system's own code (errno, GetLastError()); 0 when none
  long holderPid = 0;  // InUse: the process that holds the port, where known
  // InUse: that process's name, where known; owned by the port, valid until
  // its next call.
  const char* holderName = "";
};

class SerialPort {
 public:
  virtual ~SerialPort() = default;

  // Opens the port the scan knows as `portName` ("COM1", "/dev/ttyUSB0") for
  // reading and writing, exclusively and without blocking. False when it does
  // not exist, cannot be opened, or another program holds it. The port's
  // settings as they were found are kept, and Close gives them back. Bytes
  // that were waiting to be read before the open are discarded.
  virtual bool Open(const char* portName) = 0;

  // 4800 baud, 8 data bits, 1 stop bit, binary, parity checking off, RTS held
  // off, any break on the transmit line ended. Everything else the port had
  // (parity scheme, flow control, DTR handling) is kept. False, with
  // LastError saying why, when the port refused the line settings; the port
  // stays open and the caller closes it. The modem and break lines are set
  // where the port has them; a port without them is no failure.
  virtual bool Configure() = 0;

  // Hands up to `length` bytes to the operating system without waiting and
  // returns how many it took (0 when it can take none now), or -1 when the
  // port has failed for good (the device behind it went away).
  virtual std::ptrdiff_t Write(const std::uint8_t* data, std::size_t length) = 0;

  // Received bytes waiting to be read; 0 when none or on any error.
  virtual std::size_t BytesWaiting() = 0;

  // Reads at most `count` of the waiting bytes without waiting; returns how
  // many were read (0 on error).
  virtual std::size_t Read(std::uint8_t* out, std::size_t count) = 0;

  // Gives the port back with the settings it had when it was opened, without
  // waiting for anything still on its way out, and closes it. A port that has
  // failed closes as well, and at once.
  virtual void Close() = 0;

  // True once the open port has failed for good: the device behind it went
  // away (a USB adapter pulled, the far end of a pseudo-terminal closed), as
  // found by the last Write, BytesWaiting or Read. The next Open clears it.
  virtual bool HasFailed() const { return false; }

  // Why the last Open or Configure failed, or why the port failed, in the
  // operating system's words; empty if unknown.
  virtual const char* LastError() const { return ""; }
  // The kind and code of that error; kind None when there is none.
  virtual PortError LastPortError() const { return {}; }
};

}  // namespace tarnwick
