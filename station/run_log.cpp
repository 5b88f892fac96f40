#include "run_log.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "system_error_text.h"
#include "wide_text.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tarnwick::station {
namespace {

void TargetFields(JsonLine& line, const PortTarget* target) {
  line.String("port", target != nullptr ? target->label.c_str() : nullptr);
  line.String("path", target != nullptr ? target->path.c_str() : nullptr);
  line.String("by_id", target != nullptr && !target->byId.empty() ? target->byId.c_str() : nullptr);
  line.String("usb_serial", target != nullptr && !target->usbSerial.empty() ? target->usbSerial.c_str() : nullptr);
}

}  // namespace

void ImageFields(JsonLine& line, const ImageInfo& image) {
  line.Begin("image")
      .String("path", image.path.c_str())
      .Unsigned("bytes", image.bytes)
      .String("sha256", image.sha256.data())
      .Unsigned("file_bytes", image.fileBytes)
      .String("file_sha256", image.fileSha256.data())
      .End();
}

std::array<char, 32> IsoUtc(WallTime time) {
  const auto sinceEpoch = time.time_since_epoch();
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch);
  const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch - seconds).count();
  const std::time_t whole = static_cast<std::time_t>(seconds.count());
  std::tm parts{};
#ifdef _WIN32
  gmtime_s(&parts, &whole);
#else
  gmtime_r(&whole, &parts);
#endif
  std::array<char, 32> text{};
  const std::size_t used = std::strftime(text.data(), text.size(), "%Y-%m-%dT%H:%M:%S", &parts);
  std::snprintf(text.data() + used, text.size() - used, ".%03dZ", static_cast<int>(millis));
  return text;
}

RunLog::~RunLog() {
#ifdef _WIN32
  if (handle_ != nullptr) ::CloseHandle(static_cast<HANDLE>(handle_));
#else
  if (fd_ >= 0) ::close(fd_);
#endif
}

bool RunLog::Open(const std::string& path, std::string& error) {
  path_ = path;
  // The C library reads the time zone data on its first conversion, on the
  // heap: here, not in the tick that writes the first record.
  IsoUtc(std::chrono::system_clock::now());
  // The last byte of a log that has one: a newline unless a record was torn.
  char last = '\n';
#ifdef _WIN32
  // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end of the file.
  // The name is UTF-8, in any script: Windows takes it as UTF-16.
  const std::wstring widePath = win32::Widen(path);
  HANDLE handle =
      ::CreateFileW(widePath.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    char message[512];
    win32::SystemErrorText(::GetLastError(), message, sizeof message);
    error = path + ": cannot open it for appending: " + message;
    return false;
  }
  handle_ = handle;
  LARGE_INTEGER size{};
  if (::GetFileType(handle) == FILE_TYPE_DISK && ::GetFileSizeEx(handle, &size) && size.QuadPart > 0) {
    HANDLE reader = ::CreateFileW(widePath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (reader != INVALID_HANDLE_VALUE) {
      OVERLAPPED at{};
      const auto offset = static_cast<unsigned long long>(size.QuadPart - 1);
      at.Offset = static_cast<DWORD>(offset);
      at.OffsetHigh = static_cast<DWORD>(offset >> 32);
      DWORD got = 0;
      char byte = '\n';
      if (::ReadFile(reader, &byte, 1, &got, &at) && got == 1) last = byte;
      ::CloseHandle(reader);
    }
  }
#else
  fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  // A file size limit must show as a failed write, not end the program.
  std::signal(SIGXFSZ, SIG_IGN);
  struct stat info {};
  if (::fstat(fd_, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
    const int reader = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (reader >= 0) {
      char byte = '\n';
      if (::pread(reader, &byte, 1, info.st_size - 1) == 1) last = byte;
      ::close(reader);
    }
  }
#endif
  if (last != '\n') {
    std::size_t written = 0;
    if (!WriteAll("\n", 1, written) || !Sync()) {
      error = failure_.data();
      return false;
    }
  }
  return true;
}

bool RunLog::AppendStart(const RunStart& start, const ImageInfo& image) {
  const auto started = IsoUtc(start.start);
  line_.Clear();
  line_.String("record", "start").String("run", start.id.data());
  line_.String("start", started.data());
  TargetFields(line_, start.target);
  ImageFields(line_, image);
  return Write();
}

bool RunLog::Append(const RunResult& result, const ImageInfo& image) {
  const auto start = IsoUtc(result.start);
  const auto end = IsoUtc(result.end);
  line_.Clear();
  line_.String("record", "end").String("run", result.id.data());
  line_.String("start", start.data()).String("end", end.data());
  TargetFields(line_, result.target);
  ImageFields(line_, image);
  line_.String("outcome", OutcomeName(result.outcome));
  if (result.deviceStatus.has_value()) {
    line_.Unsigned("device_status", *result.deviceStatus);
  } else {
    line_.Null("device_status");
  }
  line_.Unsigned("sent", result.sent);
  line_.Number("seconds", result.seconds, 1);
  return Write();
}

bool RunLog::Write() {
  record_ = line_.Finish();
  recordLength_ = line_.length();
  if (failed_) return false;
  std::size_t written = 0;
  if (!WriteAll(record_, recordLength_, written)) {
    // Part of it went out: end that part's line, so that a record written
    // once there is room again starts a line of its own.
    std::size_t ended = 0;
    if (written > 0) WriteAll("\n", 1, ended);
    return false;
  }
  return Sync();
}

bool RunLog::WriteAll(const char* text, std::size_t length, std::size_t& written) {
  while (written < length) {
    std::size_t wrote = 0;
    unsigned long code = 0;
#ifdef _WIN32
    DWORD count = 0;
    if (::WriteFile(static_cast<HANDLE>(handle_), text + written, static_cast<DWORD>(length - written), &count,
                    nullptr)) {
      wrote = count;
      if (wrote == 0) code = ERROR_DISK_FULL;  // nothing written, and no reason given
    } else {
      code = ::GetLastError();
    }
#else
    const ssize_t count = ::write(fd_, text + written, length - written);
    if (count < 0 && errno == EINTR) continue;
    if (count > 0) {
      wrote = static_cast<std::size_t>(count);
    } else {
      code = static_cast<unsigned long>(count < 0 ? errno : ENOSPC);  // 0: nothing written, and no reason given
    }
#endif
    if (wrote == 0) {
      char what[96];
      if (written == 0) {
        std::snprintf(what, sizeof what, "cannot write to it");
      } else {
        std::snprintf(what, sizeof what, "only %zu of the %zu bytes of a record were written", written, length);
      }
      if (!failed_) Fail(what, code);
      return false;
    }
    written += wrote;
  }
  return true;
}

bool RunLog::Sync() {
#ifdef _WIN32
  if (::FlushFileBuffers(static_cast<HANDLE>(handle_))) return true;
  const DWORD code = ::GetLastError();
  // A console or a pipe holds nothing to flush.
  if (code == ERROR_INVALID_HANDLE || code == ERROR_INVALID_FUNCTION) return true;
#else
  int result = 0;
  do {
    result = ::fdatasync(fd_);
  } while (result != 0 && errno == EINTR);
  if (result == 0) return true;
  const int code = errno;
  // A pipe, a terminal or a device that keeps nothing.
  if (code == EINVAL) return true;
#endif
  Fail("cannot force the record to the disk", static_cast<unsigned long>(code));
  return false;
}

void RunLog::Fail(const char* what, unsigned long code) {
  failed_ = true;
#ifdef _WIN32
  char message[512];
  win32::SystemErrorText(static_cast<DWORD>(code), message, sizeof message);
  std::snprintf(failure_.data(), failure_.size(), "%s: %s: %s", path_.c_str(), what, message);
#else
  std::snprintf(failure_.data(), failure_.size(), "%s: %s: %s", path_.c_str(), what,
                std::strerror(static_cast<int>(code)));
#endif
}

}  // namespace tarnwick::station
