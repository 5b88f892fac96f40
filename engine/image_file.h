// What the image loader needs of the file system: a file opened for reading
// that is known to be a regular file. Each platform has a real backend.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarnwick {

enum class ImageOpenStatus {
  Opened,
  NotFound,
  AccessDenied,
  Folder,          // the path names a folder
  NotRegularFile,  // a FIFO, a device, a socket ...
  Failed,          // any other reason; LastError() says which
};

class ImageFile {
 public:
  virtual ~ImageFile() = default;

  // Opens `path` for reading without ever waiting (a FIFO with no writer, a
  // device that blocks on open), then checks the type of what was opened, not
  // of the path: a path swapped for something else between a look and the open
  // cannot slip through. Anything but a regular file is closed again at once.
  virtual ImageOpenStatus Open(const char* path) = 0;
  // Reads up to `count` bytes: how many were read, 0 at the end of the file,
  // -1 on a read error.
  virtual std::ptrdiff_t Read(std::uint8_t* out, std::size_t count) = 0;
  // Closes the file if one is open.
  virtual void Close() = 0;
  // The operating system's words for the last failure; empty if unknown.
  virtual const char* LastError() const { return ""; }
};

}  // namespace tarnwick
