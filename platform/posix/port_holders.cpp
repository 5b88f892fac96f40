#include "port_holders.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>

namespace tarnwick {

namespace {

// Pseudo-terminal serial ends: /dev/pts/N, majors 136 to 143.
constexpr unsigned kFirstPtsMajor = 136;
constexpr unsigned kLastPtsMajor = 143;
constexpr unsigned kPtsPerMajor = 256;
// The pseudo-terminal multiplexer, whose every open is the master side of one.
const dev_t kPtmx = makedev(5, 2);

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

bool IsNumber(const char* text) {
  if (*text == '\0') return false;
  for (; *text != '\0'; ++text) {
    if (*text < '0' || *text > '9') return false;
  }
  return true;
}

// The pseudo-terminal index of a /dev/pts device, or -1 for any other device.
long PtsIndex(dev_t device) {
  const unsigned deviceMajor = major(device);
  if (deviceMajor < kFirstPtsMajor || deviceMajor > kLastPtsMajor) return -1;
  return static_cast<long>((deviceMajor - kFirstPtsMajor) * kPtsPerMajor + minor(device));
}

// Whether the descriptor `fdDir/fdName` of a process is the master side of
// pseudo-terminal `index`: /dev/ptmx, with "tty-index: N" in its fdinfo.
bool IsMasterOf(const std::string& processDir, const char* fdName, long index) {
  std::ifstream info(processDir + "/fdinfo/" + fdName);
  std::string key;
  while (info >> key) {
    if (key == "tty-index:") {
      long value = -1;
      info >> value;
      return value == index;
    }
  }
  return false;
}

std::string CommandName(const std::string& processDir) {
  std::ifstream comm(processDir + "/comm");
  std::string name;
  std::getline(comm, name);
  return name.empty() ? std::string("another program") : name;
}

// Whether the process in `processDir` holds `device`, and not as the far end of its line.
bool Holds(const std::string& processDir, dev_t device, long ptsIndex) {
  const std::string fdDir = processDir + "/fd";
  DirHandle fds(::opendir(fdDir.c_str()));
  if (!fds) return false;  // gone, or not ours to see
  bool holdsDevice = false;
  bool holdsMaster = false;
  while (const dirent* entry = ::readdir(fds.get())) {
    if (!IsNumber(entry->d_name)) continue;
    struct stat target {};
    if (::stat((fdDir + "/" + entry->d_name).c_str(), &target) != 0 || !S_ISCHR(target.st_mode)) continue;
    if (target.st_rdev == device) holdsDevice = true;
    if (ptsIndex >= 0 && !holdsMaster && target.st_rdev == kPtmx) {
      holdsMaster = IsMasterOf(processDir, entry->d_name, ptsIndex);
    }
  }
  return holdsDevice && !holdsMaster;
}

}  // namespace

std::optional<PortHolder> FindOtherHolder(const std::string& devicePath, const std::string& procRoot) {
  struct stat info {};
  if (::stat(devicePath.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) return std::nullopt;
  const long ptsIndex = PtsIndex(info.st_rdev);

  DirHandle processes(::opendir(procRoot.c_str()));
  if (!processes) return std::nullopt;
  const pid_t self = ::getpid();
  while (const dirent* entry = ::readdir(processes.get())) {
    if (!IsNumber(entry->d_name)) continue;
    const auto pid = static_cast<pid_t>(std::strtol(entry->d_name, nullptr, 10));
    if (pid == self) continue;
    const std::string processDir = procRoot + "/" + entry->d_name;
    if (Holds(processDir, info.st_rdev, ptsIndex)) return PortHolder{pid, CommandName(processDir)};
  }
  return std::nullopt;
}

}  // namespace tarnwick
