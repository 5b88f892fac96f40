// The image's identity: how many bytes are programmed and their SHA-256, and
// the same of the whole file they came from.
#pragma once

#include <cstdint>
#include <string>

#include "run_events.h"

namespace tarnwick::station {

// `loaded` is the image as the engine loaded it (descrambled) from `path`:
// the file is read once more, whole, for its size and digest, and must begin
// with those bytes, or it changed in between. False with `error` when it
// cannot be read, is empty or changed; `warning` when only its first
// kMaxImageLength bytes are programmed.
bool IdentifyImage(const std::string& path, const std::uint8_t* loaded, std::uint32_t length, ImageInfo& image,
                   std::string& error, std::string& warning);

}  // namespace tarnwick::station
