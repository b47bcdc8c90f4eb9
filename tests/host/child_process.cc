#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

extern char** environ;

namespace vexlo::hosttest {
namespace {

constexpr int kExecFailedStatus = 127;

std::vector<std::string> merged_environment(const std::vector<std::string>& extra) {
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) env.emplace_back(*entry);
  for (const std::string& add : extra) {
    const std::string key = add.substr(0, add.find('=') + 1);
    std::erase_if(env, [&key](const std::string& e) { return e.rfind(key, 0) == 0; });
    env.push_back(add);
  }
  return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (std::string& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

// Only async-signal-safe calls: the parent has other threads (the fake chip).
[[noreturn]] void exec_child(const char* dir, int out_fd, int err_fd, char** argv, char** envp) {
  const int null_fd = open("/dev/null", O_RDONLY);
  if (chdir(dir) != 0 || null_fd < 0 || dup2(null_fd, 0) < 0 || dup2(out_fd, 1) < 0 ||
      dup2(err_fd, 2) < 0) {
    _exit(kExecFailedStatus);
  }
  execve(argv[0], argv, envp);
  static const char kMessage[] = "exec failed\n";
  (void)!write(2, kMessage, sizeof kMessage - 1);
  _exit(kExecFailedStatus);
}

// Appends whatever can be read now; false once the write end is closed.
bool drain(int fd, std::string& into) {
  char chunk[4096];
  for (;;) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n > 0) {
      into.append(chunk, static_cast<std::size_t>(n));
    } else if (n == 0) {
      return false;
    } else {
      return errno == EAGAIN || errno == EINTR;
    }
  }
}

}  // namespace

ChildResult RunChild(const ChildSpec& spec) {
  ChildResult result;
  std::vector<std::string> argv_strings{spec.program};
  argv_strings.insert(argv_strings.end(), spec.args.begin(), spec.args.end());
  std::vector<std::string> env_strings = merged_environment(spec.extra_env);
  std::vector<char*> argv = pointers(argv_strings);
  std::vector<char*> envp = pointers(env_strings);
  const std::string dir = spec.working_dir.string();

  int out_pipe[2], err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0) {
    result.error = "pipe2 failed";
    return result;
  }
  if (pipe2(err_pipe, O_CLOEXEC) != 0) {
    close(out_pipe[0]), close(out_pipe[1]);
    result.error = "pipe2 failed";
    return result;
  }
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) exec_child(dir.c_str(), out_pipe[1], err_pipe[1], argv.data(), envp.data());
  close(out_pipe[1]);
  close(err_pipe[1]);
  const int pid_fd = pid > 0 ? static_cast<int>(syscall(SYS_pidfd_open, pid, 0)) : -1;
  if (pid < 0 || pid_fd < 0) {
    result.error = std::string("fork/pidfd_open failed: ") + std::strerror(errno);
    close(out_pipe[0]), close(err_pipe[0]);
    if (pid > 0) kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
    return result;
  }
  result.started = true;
  fcntl(out_pipe[0], F_SETFL, O_NONBLOCK);
  fcntl(err_pipe[0], F_SETFL, O_NONBLOCK);

  // Read until the child has ended, then take what is left in the pipes without waiting for
  // their end: a helper the child started (wineserver) may still hold them open.
  const auto deadline = start + spec.limit;
  bool out_open = true, err_open = true;
  for (;;) {
    pollfd fds[3] = {{pid_fd, POLLIN, 0},
                     {out_open ? out_pipe[0] : -1, POLLIN, 0},
                     {err_open ? err_pipe[0] : -1, POLLIN, 0}};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.timed_out = true;
      kill(pid, SIGKILL);
      break;
    }
    if (poll(fds, 3, static_cast<int>(left.count()) + 1) < 0 && errno != EINTR) break;
    if (out_open && fds[1].revents != 0) out_open = drain(out_pipe[0], result.out);
    if (err_open && fds[2].revents != 0) err_open = drain(err_pipe[0], result.err);
    if (fds[0].revents != 0) break;
  }
  int status = 0;
  wait4(pid, &status, 0, &result.usage);
  result.wall = std::chrono::steady_clock::now() - start;
  if (out_open) drain(out_pipe[0], result.out);
  if (err_open) drain(err_pipe[0], result.err);
  close(out_pipe[0]), close(err_pipe[0]), close(pid_fd);
  result.exited = WIFEXITED(status);
  result.exit_code = result.exited ? WEXITSTATUS(status) : -1;
  result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return result;
}

std::string DescribeEnd(const ChildResult& result) {
  if (!result.started) return "not started: " + result.error;
  if (result.timed_out) return "killed after its wall-clock limit (it did not end by itself)";
  if (result.exited) return "exit status " + std::to_string(result.exit_code);
  return "ended by signal " + std::to_string(result.signal);
}

ScratchDir::ScratchDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "vexlo-host-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
  }
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace vexlo::hosttest
