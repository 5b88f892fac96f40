#include "programmer_state.h"

#include <cstring>
#include <utility>

namespace tarnwick {

const std::array<std::uint8_t, kImageKeyLength> imageKey = {
#include "image_key.inc"
};

void ProgrammerState::ResetForInit() {
  runState = 0;
  connectStep = 0;
  connected = 0;
  bytesSent = 0;
  blockCounter = 0;
  armed = 0;
  deviceSeen = 0;
}

void ProgrammerState::ResetForProgram() {
  stopRequested = 0;
  resultOk = 0;
  bytesSent = 0;
  blockCounter = 0;
  rxState = 0;
}

void DescrambleImage(std::uint8_t* data, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    data[i] = static_cast<std::uint8_t>(data[i] - imageKey[i % kImageKeyLength]);
  }
}

void ScrambleImage(std::uint8_t* data, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    data[i] = static_cast<std::uint8_t>(data[i] + imageKey[i % kImageKeyLength]);
  }
}

namespace {

LoadResult Failure(std::string message) { return LoadResult{false, std::move(message)}; }

// Closes the file however the load ends.
class OpenFileGuard {
 public:
  explicit OpenFileGuard(ImageFile& file) : file_(file) {}
  ~OpenFileGuard() { file_.Close(); }
  OpenFileGuard(const OpenFileGuard&) = delete;
  OpenFileGuard& operator=(const OpenFileGuard&) = delete;

 private:
  ImageFile& file_;
};

}  // namespace

std::string DescribeOpenFailure(ImageOpenStatus status, const std::string& path, const char* reason) {
  switch (status) {
    case ImageOpenStatus::NotFound:
      return path + " was not found.";
    case ImageOpenStatus::AccessDenied:
      return path + " cannot be opened: access is denied.";
    case ImageOpenStatus::Folder:
      return path + " is a folder, not an image file.";
    case ImageOpenStatus::NotRegularFile:
      return path + " is not a regular file and cannot be loaded as an image.";
    case ImageOpenStatus::Opened:
    case ImageOpenStatus::Failed:
      break;
  }
  const std::string why = (reason != nullptr && *reason != '\0') ? reason : "unknown error";
  return path + " cannot be opened: " + why + ".";
}

LoadResult LoadImageFile(ProgrammerState& state, const std::string& path, ImageFile& file) {
  const ImageOpenStatus status = file.Open(path.c_str());
  if (status != ImageOpenStatus::Opened) return Failure(DescribeOpenFailure(status, path, file.LastError()));
  OpenFileGuard guard(file);

  std::size_t total = 0;
  while (total < kMaxImageLength) {
    const std::ptrdiff_t got = file.Read(state.loadScratch.data() + total, kMaxImageLength - total);
    if (got < 0) return Failure("A read error occurred while reading " + path + ".");
    if (got == 0) break;
    total += static_cast<std::size_t>(got);
  }

  DescrambleImage(state.loadScratch.data(), total);
  std::memcpy(state.imageData.data(), state.loadScratch.data(), total);
  state.imageLength = static_cast<std::uint32_t>(total);
  return LoadResult{true, {}};
}

}  // namespace tarnwick
