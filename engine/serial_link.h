// The program's one serial port: open, configure, send frames, poll, close.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "programmer_state.h"
#include "serial_port.h"

namespace tarnwick {

inline constexpr std::size_t kMaxPollBytes = 200;
inline constexpr std::size_t kFrameBufferSize = 256;
// Bytes the link holds for a port that takes a write only in part. Far more
// than a tick ever sends (a handshake and a few 133-byte blocks).
inline constexpr std::size_t kSendQueueSize = 8192;

enum class WriteChannel { Block, Handshake };

class SerialLink {
 public:
  explicit SerialLink(SerialPort& port) : port_(port) {}
  SerialLink(const SerialLink&) = delete;
  SerialLink& operator=(const SerialLink&) = delete;

  // Opens a port by the name the scan knows it by. Does not close a
  // port that is still open; the caller closes each before moving on.
  bool OpenPort(const char* portName);
  // Sets the open port's line. False when it is not open or refused the
  // settings (LastOpenError says why); the port is left open for the caller
  // to close.
  bool ConfigurePort();

  // Hands a whole frame to the port without waiting. What the port cannot take
  // now waits in the link's own queue, behind which later frames line up, so
  // frames reach the line whole and in the order of the calls. A frame that
  // does not fit in the queue is not sent at all (never a part of it).
  void SendFrame(WriteChannel channel, const std::uint8_t* frame, std::size_t length);
  // Builds the 14-byte handshake frame and sends it on the handshake channel.
  void SendHandshake();
  // Takes at most 200 of the bytes waiting into state.rxBytes and returns how
  // many; reads nothing when nothing waits. Also goes on sending the queue.
  std::uint32_t PollReceive(ProgrammerState& state);
  // Closes the port if one is open; otherwise does nothing.
  void ClosePort();

  bool IsOpen() const { return open_; }
  // True once the open port has failed for good (the device behind it went
  // away). The link then sends and reads nothing more on it; the caller
  // closes it. ClosePort and OpenPort clear it.
  bool PortFailed() const { return failed_; }
  // Why the last OpenPort or ConfigurePort failed, or why the port failed, in
  // the operating system's words; may be empty.
  const char* LastOpenError() const { return port_.LastError(); }
  std::size_t PendingBytes() const { return pendingLength_; }

 private:
  void FlushPending();
  void MarkFailed();
  void Enqueue(const std::uint8_t* data, std::size_t length);

  SerialPort& port_;
  bool open_ = false;
  bool failed_ = false;
  std::array<std::uint8_t, kFrameBufferSize> handshakeFrame_{};

  // Ring buffer of bytes handed to the link but not yet taken by the port.
  std::array<std::uint8_t, kSendQueueSize> pending_{};
  std::size_t pendingStart_ = 0;
  std::size_t pendingLength_ = 0;
};

}  // namespace tarnwick
