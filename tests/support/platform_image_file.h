// The real image-file backend of the platform the tests run on.
#pragma once

#include <string>

#include "programmer_state.h"

#ifdef _WIN32
#include "win32_image_file.h"
namespace tarnwick::testing {
using PlatformImageFile = win32::Win32ImageFile;
}
#else
#include "posix_image_file.h"
namespace tarnwick::testing {
using PlatformImageFile = PosixImageFile;
}
#endif

namespace tarnwick::testing {

// LoadImageFile through the platform's backend.
inline LoadResult LoadImage(ProgrammerState& state, const std::string& path) {
  PlatformImageFile file;
  return LoadImageFile(state, path, file);
}

}  // namespace tarnwick::testing
