#include "win32_image_file.h"

#include <algorithm>
#include <array>

#include "system_error_text.h"
#include "wide_text.h"

namespace tarnwick::win32 {

namespace {

ImageOpenStatus StatusFor(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      return ImageOpenStatus::NotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return ImageOpenStatus::AccessDenied;
    case ERROR_PIPE_BUSY:
      return ImageOpenStatus::NotRegularFile;
    default:
      return ImageOpenStatus::Failed;
  }
}

}  // namespace

Win32ImageFile::~Win32ImageFile() { Close(); }

ImageOpenStatus Win32ImageFile::Open(const char* path) {
  Close();
  lastError_[0] = '\0';
  // A folder cannot be opened as a file; the system then only says "access
  // denied", which would mislead the operator.
  // The path is UTF-8, in any script a user or folder name is written in;
  // converted on the stack, as the engine may open its image while a run goes.
  std::array<wchar_t, 2048> widePath{};
  if (path == nullptr || !WidenInto(path, widePath.data(), widePath.size())) {
    RememberError(ERROR_FILENAME_EXCED_RANGE);
    return StatusFor(ERROR_FILENAME_EXCED_RANGE);
  }
  const DWORD attributes = ::GetFileAttributesW(widePath.data());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return ImageOpenStatus::Folder;
  }
  // No sharing while the image is read. Opening a pipe or a device with
  // CreateFile does not wait.
  const HANDLE handle =
      ::CreateFileW(widePath.data(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD code = ::GetLastError();
    RememberError(code);
    return StatusFor(code);
  }
  if (::GetFileType(handle) != FILE_TYPE_DISK) {
    ::CloseHandle(handle);
    return ImageOpenStatus::NotRegularFile;
  }
  handle_ = handle;
  return ImageOpenStatus::Opened;
}

std::ptrdiff_t Win32ImageFile::Read(std::uint8_t* out, std::size_t count) {
  if (handle_ == INVALID_HANDLE_VALUE) return -1;
  const auto asked = static_cast<DWORD>(std::min<std::size_t>(count, 1u << 30));
  DWORD got = 0;
  if (!::ReadFile(handle_, out, asked, &got, nullptr)) {
    RememberError(::GetLastError());
    return -1;
  }
  return static_cast<std::ptrdiff_t>(got);
}

void Win32ImageFile::Close() {
  if (handle_ == INVALID_HANDLE_VALUE) return;
  ::CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
}

void Win32ImageFile::RememberError(DWORD code) { SystemErrorText(code, lastError_.data(), lastError_.size()); }

}  // namespace tarnwick::win32
