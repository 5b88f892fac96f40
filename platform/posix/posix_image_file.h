// Image files on POSIX systems: opened with O_NONBLOCK, so that a FIFO with no
// writer or a device cannot hold up the caller, and typed with fstat on the
// open descriptor, so that what is read is what was checked.
#pragma once

#include <string>

#include "image_file.h"

namespace tarnwick {

class PosixImageFile final : public ImageFile {
 public:
  PosixImageFile() = default;
  ~PosixImageFile() override;
  PosixImageFile(const PosixImageFile&) = delete;
  PosixImageFile& operator=(const PosixImageFile&) = delete;

  ImageOpenStatus Open(const char* path) override;
  std::ptrdiff_t Read(std::uint8_t* out, std::size_t count) override;
  void Close() override;
  const char* LastError() const override { return lastError_.c_str(); }

 private:
  int fd_ = -1;
  std::string lastError_;
};

}  // namespace tarnwick
