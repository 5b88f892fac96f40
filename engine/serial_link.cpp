#include "serial_link.h"

#include <algorithm>

#include "frame_codec.h"

namespace tarnwick {

bool SerialLink::OpenPort(const char* portName) {
  open_ = port_.Open(portName);
  failed_ = false;
  pendingStart_ = 0;
  pendingLength_ = 0;
  return open_;
}

bool SerialLink::ConfigurePort() { return open_ && port_.Configure(); }

void SerialLink::SendFrame(WriteChannel /*channel*/, const std::uint8_t* frame, std::size_t length) {
  if (!open_ || failed_) return;
  FlushPending();
  if (failed_) return;  // found gone while the queue went out
  std::size_t taken = 0;
  if (pendingLength_ == 0) {
    const std::ptrdiff_t written = port_.Write(frame, length);
    if (written < 0) {
      MarkFailed();  // the port is gone: nothing reaches the line any more
      return;
    }
    taken = static_cast<std::size_t>(written);
  }
  Enqueue(frame + taken, length - taken);
}

void SerialLink::SendHandshake() {
  const int length = BuildFrame(handshakeSource.data(), handshakeFrame_.data(), kHandshakeDataLength);
  SendFrame(WriteChannel::Handshake, handshakeFrame_.data(), static_cast<std::size_t>(length));
}

std::uint32_t SerialLink::PollReceive(ProgrammerState& state) {
  if (!open_ || failed_) return 0;
  FlushPending();
  if (failed_) return 0;
  const std::size_t waiting = std::min(port_.BytesWaiting(), kMaxPollBytes);
  const std::size_t read = waiting != 0 ? port_.Read(state.rxBytes.data(), waiting) : 0;
  // Bytes read before the port failed are still the device's; they count.
  if (port_.HasFailed()) MarkFailed();
  return static_cast<std::uint32_t>(read);
}

void SerialLink::ClosePort() {
  if (!open_) return;
  port_.Close();
  open_ = false;
  failed_ = false;
  pendingStart_ = 0;
  pendingLength_ = 0;
}

void SerialLink::FlushPending() {
  while (pendingLength_ > 0) {
    // The queued bytes may wrap around the end of the ring: write the first run.
    const std::size_t run = std::min(pendingLength_, kSendQueueSize - pendingStart_);
    const std::ptrdiff_t written = port_.Write(pending_.data() + pendingStart_, run);
    if (written < 0) {
      MarkFailed();
      return;
    }
    const auto taken = static_cast<std::size_t>(written);
    pendingStart_ = (pendingStart_ + taken) % kSendQueueSize;
    pendingLength_ -= taken;
    if (taken < run) return;  // the port is full for now
  }
  pendingStart_ = 0;
}

void SerialLink::MarkFailed() {
  failed_ = true;
  pendingStart_ = 0;
  pendingLength_ = 0;
}

void SerialLink::Enqueue(const std::uint8_t* data, std::size_t length) {
  if (length == 0) return;
  // A whole frame or nothing: a partial frame would corrupt the line.
  if (length > kSendQueueSize - pendingLength_) return;
  std::size_t end = (pendingStart_ + pendingLength_) % kSendQueueSize;
  for (std::size_t i = 0; i < length; ++i) {
    pending_[end] = data[i];
    end = (end + 1) % kSendQueueSize;
  }
  pendingLength_ += length;
}

}  // namespace tarnwick
