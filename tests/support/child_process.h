#pragma once

// Child processes for tests that drive real programs (Xvfb, the demo platform, the tool,
// xdotool). Every wait is bounded; a child still running when its owner goes is killed.

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// Environment changes: "NAME=value" sets, a bare "NAME" removes.
using EnvChanges = std::vector<std::string>;

class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  // Starts argv[0] (searched on PATH) with the test's environment changed by env. With
  // stdout_fd >= 0 the child's standard output goes there. Not started: started() is false.
  static ChildProcess start(const std::vector<std::string>& argv, const EnvChanges& env = {},
                            int stdout_fd = -1, const std::vector<int>& keep_fds = {});

  [[nodiscard]] bool started() const { return pid_ > 0; }
  [[nodiscard]] pid_t pid() const { return pid_; }

  // The exit code once the child has ended within timeout (128 + signal when a signal ended
  // it), nullopt while it still runs.
  std::optional<int> wait_for_exit(std::chrono::milliseconds timeout);

  // SIGTERM, a short grace, then SIGKILL; reaps the child.
  void stop();

 private:
  pid_t pid_ = -1;
  std::optional<int> exit_code_;
};

struct CommandResult {
  std::optional<int> exit_code;  // nullopt: killed after the time-out
  std::string output;            // standard output
};

// Runs a command to its end, at most timeout long, and collects its standard output.
CommandResult run_command(const std::vector<std::string>& argv, const EnvChanges& env,
                          std::chrono::milliseconds timeout);

// Polls until condition holds or timeout passes; the condition's last answer.
template <typename Condition>
bool wait_until(Condition condition, std::chrono::milliseconds timeout,
                std::chrono::milliseconds interval = std::chrono::milliseconds(50)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return condition();
    std::this_thread::sleep_for(interval);
  }
  return true;
}

// A private X server on a display number the server picks itself. display() is empty when
// it could not be started.
class XvfbServer {
 public:
  XvfbServer(int width, int height);
  [[nodiscard]] const std::string& display() const { return display_; }

 private:
  ChildProcess process_;
  std::string display_;
};

std::string read_file(const std::string& path);
