#include "run_log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace tarnwick::cli {

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
#ifdef _WIN32
  // FILE_APPEND_DATA alone: every write goes to the end of the file.
  HANDLE handle = ::CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    error = path + ": cannot open it for appending (error " + std::to_string(::GetLastError()) + ")";
    return false;
  }
  handle_ = handle;
#else
  fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
#endif
  return true;
}

bool RunLog::Append(const RunResult& result, const ImageInfo& image) {
  const PortTarget* target = result.target;
  const auto start = IsoUtc(result.start);
  const auto end = IsoUtc(result.end);
  line_.Clear();
  line_.String("start", start.data()).String("end", end.data());
  line_.String("port", target != nullptr ? target->label.c_str() : nullptr);
  line_.String("path", target != nullptr ? target->path.c_str() : nullptr);
  line_.String("by_id", target != nullptr && !target->byId.empty() ? target->byId.c_str() : nullptr);
  line_.String("usb_serial", target != nullptr && !target->usbSerial.empty() ? target->usbSerial.c_str() : nullptr);
  line_.Begin("image")
      .String("path", image.path.c_str())
      .Unsigned("bytes", image.bytes)
      .String("sha256", image.sha256.data())
      .End();
  line_.String("outcome", OutcomeName(result.outcome));
  line_.Unsigned("device_status", result.deviceStatus);
  line_.Unsigned("sent", result.sent);
  line_.Number("seconds", result.seconds, 1);
  const char* text = line_.Finish();
#ifdef _WIN32
  if (handle_ == nullptr) return false;
  DWORD written = 0;
  return ::WriteFile(static_cast<HANDLE>(handle_), text, static_cast<DWORD>(line_.length()), &written, nullptr) &&
         written == line_.length();
#else
  if (fd_ < 0) return false;
  return ::write(fd_, text, line_.length()) == static_cast<ssize_t>(line_.length());
#endif
}

}  // namespace tarnwick::cli
