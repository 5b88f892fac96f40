#include "system_error_text.h"

#include <cstdio>
#include <cstring>

#include "wide_text.h"

namespace tarnwick::win32 {

void SystemErrorText(DWORD code, char* out, std::size_t size) {
  if (size == 0) return;
  // In the user's language, whatever its script: asked for in UTF-16, kept in UTF-8.
  wchar_t wide[512];
  const DWORD wideLength = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                            0, wide, static_cast<DWORD>(sizeof wide / sizeof wide[0]), nullptr);
  if (wideLength == 0 || !NarrowInto(wide, out, size)) {
    std::snprintf(out, size, "system error %lu", code);
    return;
  }
  // The status line and the messages built on it want one line, without a full stop.
  std::size_t end = std::strlen(out);
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
