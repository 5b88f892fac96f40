// What the port and device fuzz targets share: the run log's record of a run
// on a port, written by the program's own RunLog and read back with a strict
// JSON parser, and the check that a string came through it.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "fuzz_support.h"
#include "json_line.h"
#include "run_log.h"

namespace tarnwick::fuzz {

inline std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0xF];
  }
  return hex;
}

// `object[key]` carries `value`: null when the writer was given none, else
// the string itself when it is UTF-8, or the readable form with the exact
// bytes in key_hex.
inline void CheckCarried(const nlohmann::json& object, const std::string& key, const std::string* value,
                         const char* what) {
  Check(object.contains(key), what);
  if (value == nullptr) {
    Check(object.at(key).is_null(), what);
    return;
  }
  Check(object.at(key).is_string(), what);
  if (station::IsValidUtf8(*value)) {
    Check(object.at(key) == *value && !object.contains(key + "_hex"), what);
  } else {
    Check(object.contains(key + "_hex") && object.at(key + "_hex") == Hex(*value), what);
  }
}

// Scratch files and fake trees go to memory where the machine has a tmpfs
// for it: on a disk, making and removing a tree for every input is a hundred
// times slower. TMPDIR, when set, is left as it is. Call before making any.
inline bool ScratchInMemory() {
  std::error_code error;
  if (std::getenv("TMPDIR") == nullptr && std::filesystem::is_directory("/dev/shm", error) &&
      ::access("/dev/shm", W_OK) == 0) {
    ::setenv("TMPDIR", "/dev/shm", 0);
  }
  return true;
}

// A scratch file the run log appends to; emptied after each record is read.
class RecordFile {
 public:
  RecordFile() {
    path_ = (std::filesystem::temp_directory_path() / ("tarnwick-fuzz-log-" + std::to_string(::getpid()))).string();
    std::string error;
    Check(log_.Open(path_, error), "the scratch log cannot be opened");
  }
  ~RecordFile() { std::remove(path_.c_str()); }

  // The record RunLog writes for a run on `target`, parsed.
  nlohmann::json Record(const PortTarget& target, const station::ImageInfo& image) {
    station::RunResult result;
    result.target = &target;
    result.outcome = RunOutcome::Success;
    result.start = result.end = std::chrono::system_clock::now();
    Check(log_.Append(result, image), "the run log could not be written");
    std::FILE* file = std::fopen(path_.c_str(), "rb");
    Check(file != nullptr, "the scratch log cannot be read");
    std::string text;
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, got);
    std::fclose(file);
    std::filesystem::resize_file(path_, 0);
    Check(!text.empty() && text.find('\n') == text.size() - 1, "a record is not one whole line");
    nlohmann::json parsed = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
    Check(!parsed.is_discarded() && parsed.is_object(), "a record is not a JSON object");
    return parsed;
  }

 private:
  std::string path_;
  station::RunLog log_;
};

// The record of a run on `target` carries its names whole.
inline void CheckRecordOf(RecordFile& file, const PortTarget& target) {
  station::ImageInfo image;
  image.path = target.label;  // any string will do; this one is odd enough
  image.bytes = 1;
  const nlohmann::json record = file.Record(target, image);
  CheckCarried(record, "port", &target.label, "the record's port is not the port's name");
  CheckCarried(record, "path", &target.path, "the record's path is not the port's path");
  CheckCarried(record, "by_id", target.byId.empty() ? nullptr : &target.byId, "the record's by_id is wrong");
  CheckCarried(record, "usb_serial", target.usbSerial.empty() ? nullptr : &target.usbSerial,
               "the record's usb_serial is wrong");
  Check(record.contains("image") && record.at("image").is_object(), "the record has no image");
  CheckCarried(record.at("image"), "path", &image.path, "the record's image.path is wrong");
}

}  // namespace tarnwick::fuzz
