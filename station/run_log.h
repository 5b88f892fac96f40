// The record of every run, one JSON object a line, appended to a file: which
// image went into which board, when, and how it ended. A run writes a start
// record when its device first answers and an end record when it ends, both
// naming the run, so a run cut short by a crash shows as a start without an
// end. Each record goes out in one write to a file opened for appending (so
// several stations may share one file) and is then forced to the disk.
//
// The log fails closed: once a record could not be written whole and forced
// to the disk, it takes no more records, and says which file and why. A record
// that went out in part is ended with a newline where the disk allows it; a
// log that does not end in a newline when opened (a record torn by a full disk
// or a crash) gets one first, so the next record always starts a line.
#pragma once

#include <array>
#include <cstddef>
#include <string>

#include "json_line.h"
#include "run_events.h"

namespace tarnwick::station {

class RunLog {
 public:
  RunLog() = default;
  ~RunLog();
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;

  // False with the reason when the file cannot be opened for appending, or
  // when the newline that ends a torn last record cannot be written
  // (failed() is then true as well).
  bool Open(const std::string& path, std::string& error);

  // Append the start record and the end record of a run. False when the
  // record is not in the log: this write failed, or an earlier one did.
  bool AppendStart(const RunStart& start, const ImageInfo& image);
  bool Append(const RunResult& result, const ImageInfo& image);

  // A write has failed: the log takes no more records.
  bool failed() const { return failed_; }
  // The file and what went wrong, e.g. "runs.log: No space left on device".
  const char* failure() const { return failure_.data(); }
  // The last record formatted, with its newline, whether written or not.
  const char* record() const { return record_; }
  std::size_t recordLength() const { return recordLength_; }

 private:
  bool Write();
  bool WriteAll(const char* text, std::size_t length, std::size_t& written);
  bool Sync();
  void Fail(const char* what, unsigned long code);

#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
  std::string path_;
  JsonLine line_;
  const char* record_ = "";
  std::size_t recordLength_ = 0;
  bool failed_ = false;
  std::array<char, 1024> failure_{};
};

// The image's fields of a record: the bytes programmed and the whole file.
void ImageFields(JsonLine& line, const ImageInfo& image);

// UTC in ISO 8601 with milliseconds: "2025-01-31T12:34:56.789Z".
std::array<char, 32> IsoUtc(WallTime time);

}  // namespace tarnwick::station
