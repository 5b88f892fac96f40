#include "port_error_hint.h"

#include <grp.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace tarnwick::ui {
namespace {

// The name of the group that owns `path`, or empty when it cannot be told.
std::string OwningGroup(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return {};
  const group* entry = ::getgrgid(info.st_gid);
  return entry != nullptr && entry->gr_name != nullptr ? std::string(entry->gr_name) : std::string();
}

}  // namespace

std::string WithPermissionHint(const std::string& detail) {
  const std::string suffix = std::string(": ") + std::strerror(EACCES);
  if (detail.size() <= suffix.size() || detail.compare(detail.size() - suffix.size(), suffix.size(), suffix) != 0) {
    return detail;
  }
  const std::string path = detail.substr(0, detail.size() - suffix.size());
  const std::string group = OwningGroup(path);
  const std::string who = group.empty() ? "the group that owns " + path + " (usually dialout)"
                                        : "group \"" + group + "\", which owns " + path;
  const std::string join = group.empty() ? "dialout" : group;
  return detail + ". Your user must be in " + who + ": sudo usermod -aG " + join +
         " \"$USER\", then log in again.";
}

}  // namespace tarnwick::ui
