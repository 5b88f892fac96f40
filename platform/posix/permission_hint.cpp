#include "permission_hint.h"

#include <grp.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>

#include "posix_serial_port.h"

namespace tarnwick {
namespace {

// The name of the group that owns `path`, or empty when it cannot be told.
std::string OwningGroup(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return {};
  const group* entry = ::getgrgid(info.st_gid);
  return entry != nullptr && entry->gr_name != nullptr ? std::string(entry->gr_name) : std::string();
}

}  // namespace

std::string PermissionAdvice(const std::string& path, int error) {
  if (error != EACCES && error != EPERM) return {};
  const std::string group = OwningGroup(path);
  const std::string who = group.empty() ? "the group that owns " + path + " (usually dialout)"
                                        : "group \"" + group + "\", which owns " + path;
  const std::string join = group.empty() ? "dialout" : group;
  return "your user must be in " + who + ": sudo usermod -aG " + join + " \"$USER\", then log in again";
}

std::string WithPermissionHint(const PosixSerialPort& port, const std::string& detail) {
  // The kind of the port's error decides, not the words of the detail; the
  // detail must be that error, or the advice would explain something else.
  const PortError error = port.LastPortError();
  if (error.kind != PortErrorKind::PermissionDenied || detail != port.LastError()) return detail;
  std::string advice = PermissionAdvice(port.path(), static_cast<int>(error.code));
  if (advice.empty()) return detail;
  advice[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(advice[0])));
  return detail + ". " + advice + ".";
}

}  // namespace tarnwick
