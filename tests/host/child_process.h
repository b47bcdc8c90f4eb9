// Runs a program as a child process under a wall-clock bound, in a working directory of the
// caller's choice, with its standard output and standard error captured apart.
#pragma once

#include <sys/resource.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace vexlo::hosttest {

struct ChildSpec {
  std::string program;                     // path of the executable
  std::vector<std::string> args;           // argv[1...]
  std::filesystem::path working_dir;       // the child chdir()s here before exec
  std::vector<std::string> extra_env;      // "NAME=value", added to (or replacing in) ours
  std::chrono::milliseconds limit{60000};  // killed with SIGKILL when it runs longer
};

struct ChildResult {
  bool started = false;    // false: fork/exec failed; `error` says why
  bool timed_out = false;  // killed after `limit`
  bool exited = false;     // ended through exit(); false when a signal ended it
  int exit_code = -1;      // 0..255 when `exited`
  int signal = 0;          // the ending signal otherwise
  std::string out, err;    // everything written to standard output / standard error
  std::string error;
  rusage usage{};  // the child's own resource use (wait4)
  std::chrono::nanoseconds wall{};
};

// Starts `spec.program`, collects its output until it ends or `spec.limit` passes, and reaps it.
// Standard input is /dev/null.
ChildResult RunChild(const ChildSpec& spec);

// "exit status 255", "killed by signal 9 after the 60000 ms limit", ... for failure messages.
std::string DescribeEnd(const ChildResult& result);

// A fresh directory under the system's temporary directory, removed with its content at the end.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace vexlo::hosttest
