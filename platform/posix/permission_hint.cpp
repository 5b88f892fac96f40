#include "permission_hint.h"

#include <grp.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstring>

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

std::string WithPermissionHint(const std::string& detail) {
  const std::string suffix = std::string(": ") + std::strerror(EACCES);
  if (detail.size() <= suffix.size() || detail.compare(detail.size() - suffix.size(), suffix.size(), suffix) != 0) {
    return detail;
  }
  std::string advice = PermissionAdvice(detail.substr(0, detail.size() - suffix.size()), EACCES);
  advice[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(advice[0])));
  return detail + ". " + advice + ".";
}

}  // namespace tarnwick
