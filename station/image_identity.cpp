#include "image_identity.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "programmer_state.h"
#include "serial_devices.h"
#include "sha256.h"

namespace tarnwick::station {

bool IdentifyImage(const std::string& path, const std::uint8_t* loaded, std::uint32_t length, ImageInfo& image,
                   std::string& error, std::string& warning) {
  // Scrambled again, the loaded bytes are the file's own.
  std::vector<std::uint8_t> bytes(loaded, loaded + length);
  ScrambleImage(bytes.data(), bytes.size());
  image.path = path;
  image.bytes = length;
  image.sha256 = Sha256Hex(bytes.data(), bytes.size());

  const std::unique_ptr<ImageFile> file = MakeImageFile();
  if (file->Open(path.c_str()) != ImageOpenStatus::Opened) {
    error = path + ": cannot open it again to read it whole";
    if (*file->LastError() != '\0') error += std::string(": ") + file->LastError();
    return false;
  }
  Sha256 digest;
  std::vector<std::uint8_t> chunk(1 << 16);
  std::uint64_t total = 0;
  bool same = true;
  for (;;) {
    const std::ptrdiff_t got = file->Read(chunk.data(), chunk.size());
    if (got < 0) {
      error = path + ": cannot read it: " + file->LastError();
      return false;
    }
    if (got == 0) break;
    const auto count = static_cast<std::size_t>(got);
    if (total < bytes.size()) {
      const std::size_t overlap = std::min<std::size_t>(count, bytes.size() - static_cast<std::size_t>(total));
      same = same && std::memcmp(chunk.data(), bytes.data() + total, overlap) == 0;
    }
    digest.Update(chunk.data(), count);
    total += count;
  }
  file->Close();
  if (total == 0) {
    error = path + " is empty (0 bytes): there is nothing to program";
    return false;
  }
  const bool cut = bytes.size() == kMaxImageLength && total > kMaxImageLength;
  if (!same || (total != bytes.size() && !cut)) {
    error = path + " changed while it was read; nothing was programmed";
    return false;
  }
  image.fileBytes = total;
  image.fileSha256 = digest.FinishHex();
  if (cut) {
    warning = path + " is " + std::to_string(total) + " bytes, more than an image holds: only its first " +
              std::to_string(kMaxImageLength) + " bytes are programmed";
  }
  return true;
}

}  // namespace tarnwick::station
