// Image files on Windows: opened with no sharing while they are read, and
// typed on the open handle, so that only a file on disk is ever read.
#pragma once

#include <windows.h>

#include <array>

#include "image_file.h"

namespace tarnwick::win32 {

class Win32ImageFile final : public ImageFile {
 public:
  Win32ImageFile() = default;
  ~Win32ImageFile() override;
  Win32ImageFile(const Win32ImageFile&) = delete;
  Win32ImageFile& operator=(const Win32ImageFile&) = delete;

  ImageOpenStatus Open(const char* path) override;
  std::ptrdiff_t Read(std::uint8_t* out, std::size_t count) override;
  void Close() override;
  const char* LastError() const override { return lastError_.data(); }

 private:
  void RememberError(DWORD code);

  HANDLE handle_ = INVALID_HANDLE_VALUE;
  std::array<char, 256> lastError_{};
};

}  // namespace tarnwick::win32
