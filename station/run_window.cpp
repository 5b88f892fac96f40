#include "run_window.h"

#include <cstdio>
#include <cstring>

namespace tarnwick::station {

void RunWindow::SetStatusText(const char* text) {
  if (text == nullptr) text = "";
  // Writing the text the line already shows changes nothing the user sees.
  if (std::strncmp(status_.data(), text, status_.size() - 1) == 0) return;
  std::snprintf(status_.data(), status_.size(), "%s", text);
  events_.OnStatus(status_.data());
}

void RunWindow::SetStatusDetail(const char* detail) {
  if (detail == nullptr || detail[0] == '\0') return;
  // The same explanation again (a port that keeps failing) is told once.
  if (std::strncmp(detail_.data(), detail, detail_.size() - 1) == 0) return;
  std::snprintf(detail_.data(), detail_.size(), "%s", detail);
  events_.OnDetail(detail_.data());
}

void RunWindow::SetReadout(int controlId, std::uint32_t value) {
  if (controlId == IdImageLength) imageLength_ = value;
  if (controlId == IdBytesSent) bytesSent_ = value;
}

void RunWindow::SetProgressPosition(std::uint32_t position) {
  bytesSent_ = position;
  events_.OnProgress(position, total_);
}

}  // namespace tarnwick::station
