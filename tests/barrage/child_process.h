#pragma once

// A child process started without a shell, with its stdout on a pipe that a test reads line by
// line with a deadline. The test ends only the process it started, by its id.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace kestrova::testing {

inline std::string BuildPath(const std::string& relative) {
  const char* dir = std::getenv("KESTROVA_BUILD_DIR");
  return std::string(dir ? dir : ".") + "/" + relative;
}

class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() { Stop(); }

  bool Start(const std::vector<std::string>& args) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const int rc = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    m_out = fds[0];
    if (rc != 0) {
      m_pid = -1;
      return false;
    }
    return true;
  }

  int OutputFd() const { return m_out; }

  // The next line of stdout, or nothing at end of output or when the deadline passes.
  std::optional<std::string> ReadLine(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      if (auto line = TakeLine()) return line;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || m_eof) return std::nullopt;
      if (!Pump(left)) return std::nullopt;
    }
  }

  // Reads whatever stdout has within the timeout; false at end of output.
  bool Pump(std::chrono::milliseconds timeout) {
    pollfd p{m_out, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return true;
    char buffer[4096];
    const ssize_t got = ::read(m_out, buffer, sizeof buffer);
    if (got <= 0) {
      m_eof = true;
      return false;
    }
    m_pending.append(buffer, static_cast<std::size_t>(got));
    return true;
  }

  std::optional<std::string> TakeLine() {
    const auto newline = m_pending.find('\n');
    if (newline == std::string::npos) return std::nullopt;
    std::string line = m_pending.substr(0, newline);
    m_pending.erase(0, newline + 1);
    return line;
  }

  // Reads all output until the process ends; returns its exit status (-1 on a signal).
  int WaitForExit(std::string& output, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!m_eof && std::chrono::steady_clock::now() < deadline) {
      Pump(std::chrono::milliseconds(200));
    }
    output = std::exchange(m_pending, {});
    return Reap();
  }

  void Stop() {
    if (m_pid > 0) {
      ::kill(m_pid, SIGTERM);
      Reap();
    }
    if (m_out >= 0) {
      ::close(m_out);
      m_out = -1;
    }
  }

 private:
  int Reap() {
    if (m_pid <= 0) return -1;
    int status = 0;
    if (!m_eof) ::kill(m_pid, SIGTERM);
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  pid_t m_pid = -1;
  int m_out = -1;
  bool m_eof = false;
  std::string m_pending;
};

}  // namespace kestrova::testing
