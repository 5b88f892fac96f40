// tarnwick-pack: scrambles a raw firmware binary into a .UPL image with the
// product key, or (--unpack) turns a .UPL image back into the raw binary.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "programmer_state.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

void PrintUsage(std::ostream& out) {
  out << "usage: tarnwick-pack RAW-FILE IMAGE.UPL          scramble a binary into an image\n"
         "       tarnwick-pack --unpack IMAGE.UPL RAW-FILE  descramble an image into a binary\n"
         "Images hold at most "
      << tarnwick::kMaxImageLength << " bytes.\n";
}

bool WriteFile(const std::string& path, const std::uint8_t* data, std::size_t length) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(length));
  out.close();
  if (!out) {
    std::cerr << "tarnwick-pack: cannot write " << path << ": " << std::strerror(errno) << "\n";
    return false;
  }
  return true;
}

int Pack(const std::string& rawPath, const std::string& imagePath) {
  namespace fs = std::filesystem;
  std::error_code error;
  if (!fs::is_regular_file(rawPath, error)) {
    std::cerr << "tarnwick-pack: " << rawPath << " is not a readable regular file\n";
    return kExitFailed;
  }
  const auto size = fs::file_size(rawPath, error);
  if (error) {
    std::cerr << "tarnwick-pack: cannot read " << rawPath << ": " << error.message() << "\n";
    return kExitFailed;
  }
  if (size > tarnwick::kMaxImageLength) {
    std::cerr << "tarnwick-pack: " << rawPath << " has " << size << " bytes; an image holds at most "
              << tarnwick::kMaxImageLength << " bytes\n";
    return kExitFailed;
  }
  std::ifstream in(rawPath, std::ios::binary);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!in) {
    std::cerr << "tarnwick-pack: read error on " << rawPath << "\n";
    return kExitFailed;
  }
  tarnwick::ScrambleImage(bytes.data(), bytes.size());
  return WriteFile(imagePath, bytes.data(), bytes.size()) ? kExitOk : kExitFailed;
}

int Unpack(const std::string& imagePath, const std::string& rawPath) {
  // The same loader the program uses, so the result is what the program would send.
  auto state = std::make_unique<tarnwick::ProgrammerState>();
  const tarnwick::LoadResult result = tarnwick::LoadImageFile(*state, imagePath);
  if (!result.ok) {
    std::cerr << "tarnwick-pack: " << result.message << "\n";
    return kExitFailed;
  }
  return WriteFile(rawPath, state->imageData.data(), state->imageLength) ? kExitOk : kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    PrintUsage(std::cout);
    return kExitOk;
  }
  if (args.size() == 2 && args[0].rfind("-", 0) != 0) return Pack(args[0], args[1]);
  if (args.size() == 3 && args[0] == "--unpack") return Unpack(args[1], args[2]);
  PrintUsage(std::cerr);
  return kExitUsage;
}
