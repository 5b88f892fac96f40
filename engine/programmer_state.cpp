#include "programmer_state.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

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

// Refuses anything but a regular file before it is opened: opening a FIFO for
// reading would block the window's thread until a writer appears.
LoadResult CheckIsRegularFile(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (status.type() == fs::file_type::not_found) return Failure(path + " was not found.");
  if (error) {
    if (error == std::errc::permission_denied) {
      return Failure(path + " cannot be opened: access is denied.");
    }
    return Failure(path + " cannot be opened: " + error.message() + ".");
  }
  if (status.type() == fs::file_type::directory) {
    return Failure(path + " is a folder, not an image file.");
  }
  if (status.type() != fs::file_type::regular) {
    return Failure(path + " is not a regular file and cannot be loaded as an image.");
  }
  return LoadResult{true, {}};
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

LoadResult LoadImageFile(ProgrammerState& state, const std::string& path) {
  LoadResult check = CheckIsRegularFile(path);
  if (!check.ok) return check;

  errno = 0;
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    const int openError = errno;
    if (openError == ENOENT) return Failure(path + " was not found.");
    if (openError == EACCES || openError == EPERM) {
      return Failure(path + " cannot be opened: access is denied.");
    }
    return Failure(path + " cannot be opened: " + std::strerror(openError) + ".");
  }

  std::size_t total = 0;
  while (total < kMaxImageLength) {
    const std::size_t got =
        std::fread(state.loadScratch.data() + total, 1, kMaxImageLength - total, file.get());
    total += got;
    if (got == 0) break;
  }
  if (std::ferror(file.get())) {
    return Failure("A read error occurred while reading " + path + ".");
  }

  DescrambleImage(state.loadScratch.data(), total);
  std::memcpy(state.imageData.data(), state.loadScratch.data(), total);
  state.imageLength = static_cast<std::uint32_t>(total);
  return LoadResult{true, {}};
}

}  // namespace tarnwick
