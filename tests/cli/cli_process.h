// tarnwick-cli run as a child process: its standard output is read as it
// comes (so a test can act mid-run), its standard error goes to a file. Like
// the device tool, it is told to stop when the test process dies.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace tarnwick::testing {

class CliProcess {
 public:
  CliProcess(const std::vector<std::string>& arguments, const std::string& errorsFile) : errorsFile_(errorsFile) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    std::vector<std::string> all{TARNWICK_CLI};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : all) argv.push_back(argument.data());
    argv.push_back(nullptr);
    const pid_t parent = ::getpid();
    started_ = std::chrono::steady_clock::now();
    pid_ = ::fork();
    if (pid_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (::getppid() != parent) ::_exit(127);
      ::dup2(out[1], STDOUT_FILENO);
      const int errors = ::open(errorsFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      if (errors < 0 || ::dup2(errors, STDERR_FILENO) < 0) ::_exit(127);
      ::execv(TARNWICK_CLI, argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    stdout_ = out[0];
  }
  ~CliProcess() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (stdout_ >= 0) ::close(stdout_);
  }
  CliProcess(const CliProcess&) = delete;
  CliProcess& operator=(const CliProcess&) = delete;

  // Reads until the output holds `count` copies of `text`; false after `limit`.
  bool WaitFor(const std::string& text, std::chrono::milliseconds limit, std::size_t count = 1) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (Count(text) < count) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      if (ReadOutput(std::chrono::milliseconds(20)) < 0) return Count(text) >= count;
    }
    return true;
  }

  // The exit status, 128 + the signal if one ended it, or -1 after `limit`.
  int WaitForExit(std::chrono::milliseconds limit) {
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
  double Seconds() const { return std::chrono::duration<double>(ended_ - started_).count(); }
  const std::string& Output() const { return output_; }
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::istringstream in(output_);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  std::string Errors() const {
    const auto bytes = ReadBytes(errorsFile_);
    return std::string(bytes.begin(), bytes.end());
  }

 private:
  std::size_t Count(const std::string& text) const {
    std::size_t found = 0;
    for (std::size_t at = output_.find(text); at != std::string::npos; at = output_.find(text, at + text.size())) {
      ++found;
    }
    return found;
  }
  long ReadOutput(std::chrono::milliseconds wait) {
    pollfd ready{stdout_, POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(wait.count())) <= 0) return 0;
    char buffer[4096];
    const ssize_t got = ::read(stdout_, buffer, sizeof buffer);
    if (got <= 0) return -1;
    output_.append(buffer, static_cast<std::size_t>(got));
    return got;
  }

  std::string errorsFile_;
  pid_t pid_ = -1;
  bool exited_ = false;
  int stdout_ = -1;
  std::string output_;
  std::chrono::steady_clock::time_point started_, ended_;
};

// The raw text of `key`'s value in a one-line JSON object: a string without
// its quotes (escapes left as they are), a number, true, false, null, or a
// nested object in braces; empty when the key is not there.
inline std::string JsonField(const std::string& line, const std::string& key) {
  const std::string pattern = "\"" + key + "\":";
  const std::size_t at = line.find(pattern);
  if (at == std::string::npos) return {};
  std::size_t start = at + pattern.size();
  if (start >= line.size()) return {};
  if (line[start] == '"') {
    std::size_t end = start + 1;
    while (end < line.size() && line[end] != '"') end += line[end] == '\\' ? 2u : 1u;
    return line.substr(start + 1, end - start - 1);
  }
  if (line[start] == '{') {
    int depth = 0;
    std::size_t end = start;
    for (; end < line.size(); ++end) {
      if (line[end] == '{') ++depth;
      if (line[end] == '}' && --depth == 0) break;
    }
    return line.substr(start, end - start + 1);
  }
  std::size_t end = start;
  while (end < line.size() && line[end] != ',' && line[end] != '}') ++end;
  return line.substr(start, end - start);
}

}  // namespace tarnwick::testing
