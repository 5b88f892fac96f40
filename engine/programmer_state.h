// The record of a programming run, the image key and the image loader.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "image_file.h"

namespace tarnwick {

inline constexpr std::uint32_t kMaxImageLength = 65536;
inline constexpr std::size_t kImageKeyLength = 50;
inline constexpr std::size_t kRxBytesSize = 4096;
inline constexpr std::size_t kRxPacketSize = 259;  // command, count, body of up to 257 bytes

// The descrambling key of .UPL files; entry (i mod 50) applies to image byte i.
// Chosen at configure time (TARNWICK_IMAGE_KEY); see cmake/ImageKey.cmake.
extern const std::array<std::uint8_t, kImageKeyLength> imageKey;

// Everything a programming run works on. Field order and widths follow the
// run's record; flags are whole 32-bit words holding 0 or 1.
struct ProgrammerState {
  std::uint32_t imageLength = 0;
  std::array<std::uint8_t, kMaxImageLength> imageData{};
  std::uint32_t bytesSent = 0;
  std::uint32_t blockCounter = 0;
  std::array<std::uint8_t, kRxBytesSize> rxBytes{};
  std::int32_t rxState = 0;
  std::array<std::uint8_t, kRxPacketSize> rxPacket{};
  std::uint32_t armed = 0;
  std::uint32_t connected = 0;
  std::uint32_t resultOk = 0;
  std::uint32_t stopRequested = 0;
  std::uint32_t deviceSeen = 0;
  std::int32_t runState = 0;
  std::int32_t connectStep = 0;

  // Where a load reads the file before it replaces the image, so that a load
  // that fails part-way leaves the image in force untouched.
  std::array<std::uint8_t, kMaxImageLength> loadScratch{};

  // What the dialog's initialisation zeroes.
  void ResetForInit();
  // What every Program press zeroes before it chooses its path.
  void ResetForProgram();
};

// Descrambles bytes [0, length) in place: byte i minus key entry (i mod 50), modulo 256.
void DescrambleImage(std::uint8_t* data, std::size_t length);
// The inverse, used to make .UPL files: byte i plus key entry (i mod 50), modulo 256.
void ScrambleImage(std::uint8_t* data, std::size_t length);

struct LoadResult {
  bool ok = false;
  std::string message;  // for the operator when !ok; empty on success
};

// The operator's message for a file that `ImageFile::Open` refused;
// `reason` is the file's LastError().
std::string DescribeOpenFailure(ImageOpenStatus status, const std::string& path, const char* reason);

// Reads up to 65,536 bytes of the file at `path` through `file` and
// descrambles them. On success the image and its length replace the old ones
// together; on any failure the record's image and length are left exactly as
// they were. Only regular files are read, and opening never waits, so a FIFO
// or a device never blocks the caller.
LoadResult LoadImageFile(ProgrammerState& state, const std::string& path, ImageFile& file);

}  // namespace tarnwick
