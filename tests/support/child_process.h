// A program of ours run as a child process for a test: its standard output is
// collected as it comes, its standard error goes to a file when one is named.
// It is told to stop when the test process dies, so that a test that crashes
// (a sanitizer's report, say) leaves nothing running that holds CTest's
// output pipe open until the time-out.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace tarnwick::testing {

class ChildProcess {
 public:
  ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
               const std::string& errorsFile = {})
      : errorsFile_(errorsFile) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    std::vector<std::string> all{program};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : all) argv.push_back(argument.data());
    argv.push_back(nullptr);
    const pid_t parent = ::getpid();
    started_ = std::chrono::steady_clock::now();
    pid_ = ::fork();
    if (pid_ == 0) {
      // Only async-signal-safe calls between fork and exec.
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (::getppid() != parent) ::_exit(127);  // the test died before the line above
      ::dup2(out[1], STDOUT_FILENO);
      if (!errorsFile.empty()) {
        const int errors = ::open(errorsFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (errors < 0 || ::dup2(errors, STDERR_FILENO) < 0) ::_exit(127);
      }
      ::execv(program.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    stdout_ = out[0];
  }
  ~ChildProcess() {
    if (pid_ > 0 && !exited_) {
      // Asked first, so that it can clean up (the device removes its link); told if it lingers.
      ::kill(pid_, SIGTERM);
      if (WaitForExit(std::chrono::seconds(3)) < 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
      }
    }
    if (stdout_ >= 0) ::close(stdout_);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // The exit status once it ends, 128 + the signal if a signal ended it, or -1 after `limit`.
  int WaitForExit(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() >= deadline) return -1;
      ReadOutput(std::chrono::milliseconds(10));
    }
    ended_ = std::chrono::steady_clock::now();
    exited_ = true;
    while (ReadOutput(std::chrono::milliseconds(0)) > 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  void Signal(int number) { ::kill(pid_, number); }
  pid_t pid() const { return pid_; }
  // From the start to the end seen by WaitForExit.
  double Seconds() const { return std::chrono::duration<double>(ended_ - started_).count(); }
  const std::string& Output() const { return output_; }
  bool Said(const std::string& text) const { return output_.find(text) != std::string::npos; }
  std::string Errors() const {
    const auto bytes = ReadBytes(errorsFile_);
    return std::string(bytes.begin(), bytes.end());
  }

 protected:
  // Bytes read, 0 when none came in time, -1 at the end of the output.
  long ReadOutput(std::chrono::milliseconds wait) {
    pollfd ready{stdout_, POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(wait.count())) <= 0) return 0;
    char buffer[4096];
    const ssize_t got = ::read(stdout_, buffer, sizeof buffer);
    if (got <= 0) return -1;
    output_.append(buffer, static_cast<std::size_t>(got));
    return got;
  }

 private:
  std::string errorsFile_;
  pid_t pid_ = -1;
  bool exited_ = false;
  int stdout_ = -1;
  std::string output_;
  std::chrono::steady_clock::time_point started_, ended_;
};

}  // namespace tarnwick::testing
