// Other processes that hold a serial device open. Our own exclusion (an
// advisory lock, then the terminal's exclusive mode) keeps out programs that
// ask first, but a program that opened the port before us without locking it
// (a modem manager probing a new adapter, a terminal program) would share the
// line and take bytes meant for us. /proc tells who holds it, as fuser does.
#pragma once

#include <optional>
#include <string>
#include <sys/types.h>

namespace tarnwick {

struct PortHolder {
  pid_t pid = 0;
  std::string name;  // the process's command name, as /proc/PID/comm gives it
};

// The first process other than this one that holds `devicePath` open, or
// nothing when there is none or /proc does not let us see (another user's
// processes are not visible to an ordinary user). A process that holds the
// master side of the same pseudo-terminal is the far end of the line, not a
// rival, and is not counted. `procRoot` is a parameter so tests can use a fake tree.
std::optional<PortHolder> FindOtherHolder(const std::string& devicePath, const std::string& procRoot = "/proc");

}  // namespace tarnwick
