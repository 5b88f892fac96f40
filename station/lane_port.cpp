#include "lane_port.h"

#include <cstdio>
#include <cstring>

#include "frame_codec.h"

namespace tarnwick::station {

LanePort::LanePort(SerialPort& inner, WriteGate& gate) : inner_(inner), gate_(gate) {
  BuildFrame(handshakeSource.data(), handshake_.data(), kHandshakeDataLength);
}

void LanePort::SetNames(std::span<const char* const> names, std::span<const char* const> labels) {
  names_ = names;
  labels_ = labels;
  records_.assign(names.size(), OpenRecord{});
  index_ = 0;
}

bool LanePort::Open(const char* portName) {
  // The engine opens its names by the very pointers it was given.
  index_ = 0;
  while (index_ + 1 < names_.size() && names_[index_] != portName) ++index_;
  const bool opened = inner_.Open(portName);
  if (index_ < records_.size()) {
    OpenRecord& record = records_[index_];
    record.tried = true;
    record.opened = opened;
    if (opened) {
      record.error[0] = '\0';
      record.kind = PortError{};
    } else {
      Remember(record);
    }
  }
  return opened;
}

bool LanePort::Configure() {
  if (inner_.Configure()) return true;
  // The engine closes it again at once: to the operator it did not open.
  if (index_ < records_.size()) {
    records_[index_].opened = false;
    Remember(records_[index_]);
  }
  return false;
}

void LanePort::Remember(OpenRecord& record) {
  std::snprintf(record.error.data(), record.error.size(), "%s", inner_.LastError());
  record.kind = inner_.LastPortError();
  std::snprintf(record.holder.data(), record.holder.size(), "%s",
                record.kind.holderName != nullptr ? record.kind.holderName : "");
  record.kind.holderName = record.holder.data();
}

std::ptrdiff_t LanePort::Write(const std::uint8_t* data, std::size_t length) {
  const bool handshake = length == kHandshakeFrameLength && std::memcmp(data, handshake_.data(), length) == 0;
  if (!handshake && !gate_.MayWrite()) return 0;
  const std::ptrdiff_t taken = inner_.Write(data, length);
  if (taken > 0) Dump('>', data, static_cast<std::size_t>(taken));
  return taken;
}

std::size_t LanePort::Read(std::uint8_t* out, std::size_t count) {
  const std::size_t got = inner_.Read(out, count);
  if (got > 0) Dump('<', out, got);
  return got;
}

void LanePort::Dump(char direction, const std::uint8_t* data, std::size_t length) {
  if (trace_ == nullptr) return;
  // Whole lines of 32 bytes, each whole, so that ports do not interleave.
  constexpr std::size_t kPerLine = 32;
  const char* label = index_ < labels_.size() && labels_[index_] != nullptr ? labels_[index_] : "";
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

}  // namespace tarnwick::station
