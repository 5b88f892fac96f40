// Image files for the dialog tests, scrambled as the loader expects them.
#pragma once

#include <QString>
#include <cstdint>
#include <string>
#include <vector>

#include "programmer_state.h"
#include "temp_dir.h"

namespace tarnwick::testing {

inline QString WriteImageFile(const TempDir& dir, const std::string& name, std::vector<std::uint8_t> raw) {
  ScrambleImage(raw.data(), raw.size());
  WriteBytes(dir.File(name), raw);
  return QString::fromStdString(dir.File(name));
}

}  // namespace tarnwick::testing
