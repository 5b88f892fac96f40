// Text inside the program is UTF-8 on every platform; Windows takes and gives
// names and messages as UTF-16. These convert at that border.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tarnwick::win32 {

// UTF-8 to UTF-16. Bytes that are not UTF-8 become U+FFFD.
std::wstring Widen(std::string_view utf8);
// UTF-16 to UTF-8. Lone surrogates become U+FFFD.
std::string Narrow(std::wstring_view wide);

// The same into a fixed buffer, for calls that must not allocate (a port
// opened while a run goes). False, with `out` empty, when the text does not
// fit in `size` units with its terminator.
bool WidenInto(const char* utf8, wchar_t* out, std::size_t size);
bool NarrowInto(const wchar_t* wide, char* out, std::size_t size);

}  // namespace tarnwick::win32
