// The record of every run that ended, one JSON object a line, appended to a
// file: which image went into which board, when, and how it ended. Each line
// goes out in one write to a file opened for appending, so a crash never
// leaves half a record and several stations may share one file.
#pragma once

#include <array>
#include <string>

#include "json_line.h"
#include "station.h"

namespace tarnwick::cli {

class RunLog {
 public:
  RunLog() = default;
  ~RunLog();
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;

  // False with the reason when the file cannot be opened for appending.
  bool Open(const std::string& path, std::string& error);
  // Appends the record of one run; false when the write failed.
  bool Append(const RunResult& result, const ImageInfo& image);

 private:
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
  JsonLine line_;
};

// UTC in ISO 8601 with milliseconds: "2025-01-31T12:34:56.789Z".
std::array<char, 32> IsoUtc(WallTime time);

}  // namespace tarnwick::cli
