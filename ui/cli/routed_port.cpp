#include "routed_port.h"

#include <cstring>

#include "frame_codec.h"

namespace tarnwick::cli {

std::size_t SlotOf(const char* portName) {
  if (portName == nullptr || std::strncmp(portName, "COM", 3) != 0) return kEngineSlots;
  if (portName[3] < '1' || portName[3] > '0' + static_cast<int>(kEngineSlots) || portName[4] != '\0') {
    return kEngineSlots;
  }
  return static_cast<std::size_t>(portName[3] - '1');
}

RoutedPort::RoutedPort(SerialPort& inner, const std::array<std::string, kEngineSlots>& openAs)
    : inner_(&inner), openAs_(openAs) {
  BuildFrame(handshakeSource.data(), handshake_.data(), kHandshakeDataLength);
}

void RoutedPort::Rebind(SerialPort& inner, const std::array<std::string, kEngineSlots>& openAs) {
  inner_->Close();
  inner_ = &inner;
  openAs_ = openAs;
}

void RoutedPort::Trace(TraceSink* out, const std::array<const char*, kEngineSlots>& labels) {
  trace_ = out;
  labels_ = labels;
}

bool RoutedPort::Open(const char* portName) {
  const std::size_t slot = SlotOf(portName);
  if (slot >= kEngineSlots || openAs_[slot].empty()) {
    inner_->Close();
    if (slot < kEngineSlots) {
      records_[slot].tried = true;
      records_[slot].opened = false;
      std::snprintf(records_[slot].error.data(), records_[slot].error.size(), "no device stands behind it");
    }
    return false;
  }
  slot_ = slot;
  SlotRecord& record = records_[slot];
  record.tried = true;
  record.opened = inner_->Open(openAs_[slot].c_str());
  if (record.opened) {
    record.error[0] = '\0';
  } else {
    std::snprintf(record.error.data(), record.error.size(), "%s", inner_->LastError());
  }
  return record.opened;
}

bool RoutedPort::Configure() {
  if (inner_->Configure()) return true;
  // The engine closes it again at once: to the operator it did not open.
  SlotRecord& record = records_[slot_];
  record.opened = false;
  std::snprintf(record.error.data(), record.error.size(), "%s", inner_->LastError());
  return false;
}

std::ptrdiff_t RoutedPort::Write(const std::uint8_t* data, std::size_t length) {
  const bool handshake = length == kHandshakeFrameLength && std::memcmp(data, handshake_.data(), length) == 0;
  if (gate_ != nullptr && !handshake && !gate_->MayWrite()) return 0;
  const std::ptrdiff_t taken = inner_->Write(data, length);
  if (taken > 0) Dump('>', data, static_cast<std::size_t>(taken));
  return taken;
}

std::size_t RoutedPort::Read(std::uint8_t* out, std::size_t count) {
  const std::size_t got = inner_->Read(out, count);
  if (got > 0) Dump('<', out, got);
  return got;
}

void RoutedPort::Dump(char direction, const std::uint8_t* data, std::size_t length) {
  if (trace_ == nullptr) return;
  // Whole lines of 32 bytes, each whole, so that ports do not interleave.
  constexpr std::size_t kPerLine = 32;
  const char* label = labels_[slot_] != nullptr ? labels_[slot_] : "";
  for (std::size_t start = 0; start < length; start += kPerLine) {
    char line[64 + kPerLine * 3 + 2];
    // A label too long for its room is cut short.
    int used = std::snprintf(line, 64, "%s %c", label, direction);
    if (used < 0) used = 0;
    if (used > 63) used = 63;
    std::size_t at = static_cast<std::size_t>(used);
    for (std::size_t i = start; i < length && i < start + kPerLine; ++i) {
      static constexpr char kDigits[] = "0123456789abcdef";
      line[at++] = ' ';
      line[at++] = kDigits[data[i] >> 4];
      line[at++] = kDigits[data[i] & 0x0F];
    }
    line[at++] = '\n';
    trace_->TraceLine(line, at);
  }
}

}  // namespace tarnwick::cli
