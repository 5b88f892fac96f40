// The image loader through the real POSIX file backend: the input is written
// to a file and loaded twice, then paths that must be refused (none there, a
// folder, a FIFO) must leave the loaded image as it was. An input whose first
// byte is 0xFF stands for a file longer than an image can be: it is written
// over and over until the file passes the 65,536-byte limit.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "image_bytes.h"
#include "posix_image_file.h"
#include "programmer_state.h"

namespace {

using tarnwick::fuzz::Bytes;
using tarnwick::fuzz::Check;
namespace fs = std::filesystem;

// A private folder for this process's files, removed when the process ends.
struct Scratch {
  Scratch() {
    const char* tmp = std::getenv("TMPDIR");
    root = fs::path(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") /
           ("tarnwick-fuzz-image-" + std::to_string(::getpid()));
    fs::create_directories(root);
    image = (root / "IMAGE.UPL").string();
    missing = (root / "MISSING.UPL").string();
    folder = (root / "FOLDER.UPL").string();
    fifo = (root / "FIFO.UPL").string();
    fs::create_directories(folder);
    if (::mkfifo(fifo.c_str(), 0600) != 0) tarnwick::fuzz::Fail("cannot make the FIFO for the image loader");
  }
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }
  fs::path root;
  std::string image, missing, folder, fifo;
};

const Scratch& Files() {
  static const Scratch scratch;
  return scratch;
}

tarnwick::ProgrammerState& SharedState() {
  static const auto state = std::make_unique<tarnwick::ProgrammerState>();
  return *state;
}

// Fills `content` (kept between inputs, so its room is reused).
void FileContent(const std::uint8_t* data, std::size_t size, Bytes& content) {
  content.assign(data, data + size);
  if (size > 0 && data[0] == 0xFF) {
    // Doubled until past the limit: still the input over and over.
    while (content.size() <= tarnwick::kMaxImageLength) {
      const std::size_t half = content.size();
      content.resize(2 * half);
      std::copy_n(content.begin(), half, content.begin() + static_cast<std::ptrdiff_t>(half));
    }
  }
}

void WriteFile(const std::string& path, const Bytes& content) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  Check(file != nullptr, "cannot write the image file");
  const std::size_t written = content.empty() ? 0 : std::fwrite(content.data(), 1, content.size(), file);
  Check(std::fclose(file) == 0 && written == content.size(), "cannot write the image file");
}

void CheckLoaded(const tarnwick::ProgrammerState& state, const Bytes& expected) {
  Check(state.imageLength == expected.size(), "the image length is not min(file size, 65536)");
  Check(std::equal(expected.begin(), expected.end(), state.imageData.begin()),
        "the image is not the file descrambled");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Scratch& files = Files();
  tarnwick::ProgrammerState& state = SharedState();
  static Bytes content;
  static Bytes expected;
  FileContent(data, size, content);
  WriteFile(files.image, content);
  tarnwick::fuzz::ImageOfFile(content, expected);

  tarnwick::PosixImageFile file;
  for (int load = 0; load < 2; ++load) {
    const auto result = tarnwick::LoadImageFile(state, files.image, file);
    Check(result.ok && result.message.empty(), "a regular file was refused");
    CheckLoaded(state, expected);
  }

  // The whole image area as it stood.
  static std::array<std::uint8_t, tarnwick::kMaxImageLength> imageBefore;
  imageBefore = state.imageData;
  const std::uint32_t lengthBefore = state.imageLength;
  for (const std::string* refused : {&files.missing, &files.folder, &files.fifo}) {
    const auto result = tarnwick::LoadImageFile(state, *refused, file);
    Check(!result.ok, "a path that is no regular file was loaded");
    Check(!result.message.empty(), "a refused load has no message for the operator");
    Check(state.imageLength == lengthBefore, "a refused load changed the image length");
  }
  Check(state.imageData == imageBefore, "a refused load changed the image");
  return 0;
}
