#include "tests/support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <utility>

extern char** environ;

namespace {

std::vector<std::string> changed_environment(const EnvChanges& changes) {
  std::map<std::string, std::string> variables;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const auto equals = text.find('=');
    if (equals != std::string::npos) variables[text.substr(0, equals)] = text.substr(equals + 1);
  }
  for (const std::string& change : changes) {
    const auto equals = change.find('=');
    if (equals == std::string::npos) {
      variables.erase(change);
    } else {
      variables[change.substr(0, equals)] = change.substr(equals + 1);
    }
  }
  std::vector<std::string> result;
  for (const auto& [name, value] : variables) result.push_back(name + "=" + value);
  return result;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> result;
  for (std::string& s : strings) result.push_back(s.data());
  result.push_back(nullptr);
  return result;
}

int decode_status(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), exit_code_(std::exchange(other.exit_code_, {})) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    stop();
    pid_ = std::exchange(other.pid_, -1);
    exit_code_ = std::exchange(other.exit_code_, {});
  }
  return *this;
}

ChildProcess::~ChildProcess() { stop(); }

ChildProcess ChildProcess::start(const std::vector<std::string>& argv, const EnvChanges& env,
                                 int stdout_fd, const std::vector<int>& keep_fds) {
  ChildProcess child;
  if (argv.empty()) return child;
  std::vector<std::string> args = argv;
  std::vector<std::string> environment = changed_environment(env);
  auto arg_pointers = pointers(args);
  auto env_pointers = pointers(environment);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (stdout_fd >= 0) posix_spawn_file_actions_adddup2(&actions, stdout_fd, STDOUT_FILENO);
  // Descriptors the child should keep lose their close-on-exec flag there.
  for (const int fd : keep_fds) posix_spawn_file_actions_adddup2(&actions, fd, fd);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // Its own process group, so that stopping it also reaches what it started.
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  pid_t pid = -1;
  if (posix_spawnp(&pid, args[0].c_str(), &actions, &attributes, arg_pointers.data(),
                   env_pointers.data()) == 0) {
    child.pid_ = pid;
  }
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return child;
}

std::optional<int> ChildProcess::wait_for_exit(std::chrono::milliseconds timeout) {
  if (exit_code_) return exit_code_;
  if (pid_ <= 0) return std::nullopt;
  wait_until(
      [this] {
        int status = 0;
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) exit_code_ = decode_status(status);
        if (done < 0 && errno != EINTR) exit_code_ = -1;
        return exit_code_.has_value();
      },
      timeout, std::chrono::milliseconds(10));
  return exit_code_;
}

void ChildProcess::stop() {
  if (pid_ <= 0 || exit_code_) return;
  kill(-pid_, SIGTERM);
  if (!wait_for_exit(std::chrono::milliseconds(2000))) {
    kill(-pid_, SIGKILL);
    wait_for_exit(std::chrono::milliseconds(5000));
  }
  // Whatever else the child left in its group goes too.
  kill(-pid_, SIGKILL);
}

CommandResult run_command(const std::vector<std::string>& argv, const EnvChanges& env,
                          std::chrono::milliseconds timeout) {
  CommandResult result;
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) return result;
  ChildProcess child = ChildProcess::start(argv, env, pipe_fds[1]);
  close(pipe_fds[1]);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  char buffer[4096];
  while (child.started()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd entry{.fd = pipe_fds[0], .events = POLLIN, .revents = 0};
    const int ready = poll(&entry, 1, static_cast<int>(left.count()));
    if (ready <= 0) break;
    const ssize_t n = read(pipe_fds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    result.output.append(buffer, static_cast<std::size_t>(n));
  }
  close(pipe_fds[0]);
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  result.exit_code = child.wait_for_exit(std::max(left, std::chrono::milliseconds(0)));
  return result;
}

XvfbServer::XvfbServer(int width, int height) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return;
  const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
  process_ = ChildProcess::start({"Xvfb", "-displayfd", std::to_string(pipe_fds[1]), "-screen",
                                  "0", screen, "-nolisten", "tcp", "-noreset"},
                                 {}, -1, {pipe_fds[1]});
  close(pipe_fds[1]);
  std::string number;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (process_.started() && std::chrono::steady_clock::now() < deadline) {
    pollfd entry{.fd = pipe_fds[0], .events = POLLIN, .revents = 0};
    if (poll(&entry, 1, 200) <= 0) continue;
    char c = 0;
    if (read(pipe_fds[0], &c, 1) != 1) break;
    if (c == '\n') {
      display_ = ":" + number;
      break;
    }
    number += c;
  }
  close(pipe_fds[0]);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
