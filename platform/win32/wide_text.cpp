#include "wide_text.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <climits>

namespace tarnwick::win32 {

std::wstring Widen(std::string_view utf8) {
  if (utf8.empty() || utf8.size() > INT_MAX) return {};
  const int length = static_cast<int>(utf8.size());
  const int needed = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
  if (needed <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(needed), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, wide.data(), needed);
  return wide;
}

std::string Narrow(std::wstring_view wide) {
  if (wide.empty() || wide.size() > INT_MAX) return {};
  const int length = static_cast<int>(wide.size());
  const int needed = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return {};
  std::string utf8(static_cast<std::size_t>(needed), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, utf8.data(), needed, nullptr, nullptr);
  return utf8;
}

bool WidenInto(const char* utf8, wchar_t* out, std::size_t size) {
  if (size == 0) return false;
  out[0] = L'\0';
  if (size > INT_MAX) size = INT_MAX;
  // -1: the terminator is converted too.
  if (::MultiByteToWideChar(CP_UTF8, 0, utf8, -1, out, static_cast<int>(size)) > 0) return true;
  out[0] = L'\0';
  return false;
}

bool NarrowInto(const wchar_t* wide, char* out, std::size_t size) {
  if (size == 0) return false;
  out[0] = '\0';
  if (size > INT_MAX) size = INT_MAX;
  if (::WideCharToMultiByte(CP_UTF8, 0, wide, -1, out, static_cast<int>(size), nullptr, nullptr) > 0) return true;
  out[0] = '\0';
  return false;
}

}  // namespace tarnwick::win32
