// tarnwick-pack: scrambles a raw firmware binary into a .UPL image with the
// product key, or (--unpack) turns a .UPL image back into the raw binary.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "console.h"
#include "program_options.h"
#include "programmer_state.h"

#ifdef _WIN32
#include "wide_text.h"
#include "win32_image_file.h"
using PlatformImageFile = tarnwick::win32::Win32ImageFile;
#else
#include "posix_image_file.h"
using PlatformImageFile = tarnwick::PosixImageFile;
#endif

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

std::unique_ptr<CLI::App> MakeApp(bool& unpack, std::vector<std::string>& files) {
  auto app = tarnwick::options::MakeApp(
      {"tarnwick-pack",
       {"RAW-FILE IMAGE.UPL          scramble a binary into an image",
        "--unpack IMAGE.UPL RAW-FILE  descramble an image into a binary", "--help | --version"},
       "Scrambles a raw binary into a .UPL image for the programmer, or back.\n"
       "Images hold at most " +
           std::to_string(tarnwick::kMaxImageLength) + " bytes.",
       "Exit status: 0 done; 1 a file cannot be read or written, or the binary is too\n"
       "long; 2 for a wrong argument."});
  app->add_flag("--unpack", unpack, "descramble IMAGE.UPL into RAW-FILE");
  app->add_option("files", files);
  return app;
}

// File names are UTF-8, in any script: Windows takes them as UTF-16.
std::FILE* OpenForWriting(const std::string& path) {
#ifdef _WIN32
  return ::_wfopen(tarnwick::win32::Widen(path).c_str(), L"wb");
#else
  return std::fopen(path.c_str(), "wb");
#endif
}

bool WriteFile(const std::string& path, const std::uint8_t* data, std::size_t length) {
  std::FILE* out = OpenForWriting(path);
  bool written = out != nullptr && std::fwrite(data, 1, length, out) == length;
  int code = errno;
  if (out != nullptr && std::fclose(out) != 0 && written) {
    written = false;
    code = errno;
  }
  if (!written) {
    tarnwick::console::Print(stderr, "tarnwick-pack: cannot write %s: %s\n", path.c_str(), std::strerror(code));
    return false;
  }
  return true;
}

// Reads the raw binary through the same non-blocking, type-checked open as
// the loader, so that a FIFO or a device swapped in for it cannot hang us.
int Pack(const std::string& rawPath, const std::string& imagePath) {
  PlatformImageFile file;
  const tarnwick::ImageOpenStatus status = file.Open(rawPath.c_str());
  if (status != tarnwick::ImageOpenStatus::Opened) {
    tarnwick::console::Print(stderr, "tarnwick-pack: %s\n",
                             tarnwick::DescribeOpenFailure(status, rawPath, file.LastError()).c_str());
    return kExitFailed;
  }
  std::vector<std::uint8_t> bytes(tarnwick::kMaxImageLength + 1);
  std::size_t total = 0;
  for (;;) {
    // Past the limit only the count matters: read on into the spare end.
    std::uint8_t* into = bytes.data() + std::min<std::size_t>(total, tarnwick::kMaxImageLength);
    const std::size_t room = total < tarnwick::kMaxImageLength ? tarnwick::kMaxImageLength + 1 - total : 1;
    const std::ptrdiff_t got = file.Read(into, room);
    if (got < 0) {
      tarnwick::console::Print(stderr, "tarnwick-pack: read error on %s: %s\n", rawPath.c_str(), file.LastError());
      return kExitFailed;
    }
    if (got == 0) break;
    total += static_cast<std::size_t>(got);
  }
  if (total > tarnwick::kMaxImageLength) {
    tarnwick::console::Print(stderr, "tarnwick-pack: %s has %s bytes; an image holds at most %s bytes\n",
                             rawPath.c_str(), std::to_string(total).c_str(),
                             std::to_string(tarnwick::kMaxImageLength).c_str());
    return kExitFailed;
  }
  bytes.resize(total);
  tarnwick::ScrambleImage(bytes.data(), bytes.size());
  return WriteFile(imagePath, bytes.data(), bytes.size()) ? kExitOk : kExitFailed;
}

int Unpack(const std::string& imagePath, const std::string& rawPath) {
  // The same loader the program uses, so the result is what the program would send.
  auto state = std::make_unique<tarnwick::ProgrammerState>();
  PlatformImageFile file;
  const tarnwick::LoadResult result = tarnwick::LoadImageFile(*state, imagePath, file);
  if (!result.ok) {
    tarnwick::console::Print(stderr, "tarnwick-pack: %s\n", result.message.c_str());
    return kExitFailed;
  }
  return WriteFile(rawPath, state->imageData.data(), state->imageLength) ? kExitOk : kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
  bool unpack = false;
  std::vector<std::string> files;
  const std::unique_ptr<CLI::App> app = MakeApp(unpack, files);
  // File names in any script: UTF-8 from here on, on Windows as well.
  std::vector<std::string> arguments = tarnwick::console::Utf8Arguments(argc, argv);
  if (!arguments.empty()) arguments.erase(arguments.begin());  // the program's own name
  auto parsed = tarnwick::options::Parse(*app, arguments);
  if (parsed.outcome == tarnwick::options::Outcome::Run && files.size() != 2) {
    parsed = tarnwick::options::Refused(unpack ? "--unpack takes two files: IMAGE.UPL RAW-FILE"
                                               : "two files are needed: RAW-FILE IMAGE.UPL");
  }
  if (const auto status = tarnwick::options::Answer(parsed, app->get_name(), app->help(), kExitUsage)) return *status;
  return unpack ? Unpack(files[0], files[1]) : Pack(files[0], files[1]);
}
