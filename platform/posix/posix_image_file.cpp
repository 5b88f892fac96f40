#include "posix_image_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tarnwick {

namespace {

ImageOpenStatus StatusFor(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return ImageOpenStatus::NotFound;
    case EACCES:
    case EPERM:
      return ImageOpenStatus::AccessDenied;
    case EISDIR:
      return ImageOpenStatus::Folder;
    case ENXIO:  // a FIFO opened for writing without a reader, a socket
      return ImageOpenStatus::NotRegularFile;
    default:
      return ImageOpenStatus::Failed;
  }
}

}  // namespace

PosixImageFile::~PosixImageFile() { Close(); }

ImageOpenStatus PosixImageFile::Open(const char* path) {
  Close();
  lastError_.clear();
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer,
  // and a device file for whatever its driver waits for. O_NOCTTY: a terminal
  // named here must not become our controlling terminal.
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    lastError_ = std::strerror(error);
    return StatusFor(error);
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    lastError_ = std::strerror(errno);
    ::close(fd);
    return ImageOpenStatus::Failed;
  }
  if (!S_ISREG(info.st_mode)) {
    ::close(fd);
    return S_ISDIR(info.st_mode) ? ImageOpenStatus::Folder : ImageOpenStatus::NotRegularFile;
  }
  fd_ = fd;
  return ImageOpenStatus::Opened;
}

std::ptrdiff_t PosixImageFile::Read(std::uint8_t* out, std::size_t count) {
  if (fd_ < 0) return -1;
  for (;;) {
    const ssize_t got = ::read(fd_, out, count);
    if (got >= 0) return got;
    if (errno != EINTR) {
      lastError_ = std::strerror(errno);
      return -1;
    }
  }
}

void PosixImageFile::Close() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
}

}  // namespace tarnwick
