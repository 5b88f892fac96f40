#include "system_error_text.h"

#include <cstdio>
#include <cstring>

namespace tarnwick::win32 {

void SystemErrorText(DWORD code, char* out, std::size_t size) {
  if (size == 0) return;
  const DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                        out, static_cast<DWORD>(size), nullptr);
  if (length == 0) {
    std::snprintf(out, size, "system error %lu", code);
    return;
  }
  // The status line and the messages built on it want one line, without a full stop.
  std::size_t end = length;
  while (end > 0 && (out[end - 1] == '\r' || out[end - 1] == '\n' || out[end - 1] == ' ' || out[end - 1] == '.')) {
    --end;
  }
  out[end] = '\0';
}

void PortOpenErrorText(DWORD code, char* out, std::size_t size) {
  SystemErrorText(code, out, size);
  if (size == 0 || (code != ERROR_ACCESS_DENIED && code != ERROR_SHARING_VIOLATION)) return;
  const std::size_t length = std::strlen(out);
  std::snprintf(out + length, size - length, ": another program has the port open");
}

}  // namespace tarnwick::win32
