// One run of a host program against a fake chip, in a fresh working directory: the test equipment
// that the Linux and the wine end-to-end tests share.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "child_process.h"
#include "fake_chip.h"

namespace vexlo::hosttest {

struct HostRunSpec {
  std::vector<std::string> command;    // the program and any leading arguments (wine, the .exe)
  std::vector<std::string> args;       // "{port}" anywhere in an argument becomes the pty's path
  std::string srec_name = "prog.mot";  // written into the working directory when not empty
  std::string srec_text;
  ChipScript script;
  std::string image_name;  // the ROM image file to look for afterwards
  // Extra set-up in the working directory, given the pty's path (a symlink to it, a directory
  // in the ROM image file's place, a wine COM port mapping...).
  std::function<void(const std::filesystem::path& dir, const std::string& port)> prepare;
  // Called after the run, before the working directory goes away.
  std::function<void(const std::filesystem::path& dir)> inspect;
  std::vector<std::string> extra_env;
  std::chrono::milliseconds limit{120000};
};

struct HostRun {
  ChildResult child;
  ChipRecord chip;
  bool image_left = false;  // a regular file named image_name is in the working directory
  bool image_is_dir = false;
  std::string port;  // the pty's path, as substituted for "{port}"
};

HostRun RunHost(const HostRunSpec& spec);

}  // namespace vexlo::hosttest
