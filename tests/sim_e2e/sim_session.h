// One run of a host program against a simulated chip: `h8sim serve` in boot mode on a
// pseudo-terminal, the host program run on its link, and everything both leave behind.
#pragma once

#include <termios.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "child_process.h"

namespace vexlo::simtest {

using Bytes = std::vector<std::uint8_t>;

struct SessionSpec {
  std::string h8sim;                // path of the simulator
  std::string chip;                 // "3067f", "3068f", "3664f"
  std::vector<std::string> faults;  // each passed as --fault SPEC
  std::vector<std::string> host;    // the host program (and wine before it), then its arguments;
                                    // "{port}" becomes the link's path, "{srec}" the S-record file
  std::string srec_text;            // written to the working directory as prog.mot
  std::string image_name;           // the host's ROM image file, looked for afterwards
  std::vector<std::string> host_env;  // extra environment of the host
  // Runs before the host starts, given the link's path (a wine COM port mapping, say).
  std::function<void(const std::string& link)> prepare;
  std::chrono::milliseconds limit{240000};  // for each of the two processes
};

struct Session {
  hosttest::ChildResult host;
  hosttest::ChildResult serve;
  bool image_left = false;
  Bytes flash;                           // serve's --dump
  std::string trace;                     // serve's --trace
  std::optional<termios> before, after;  // the line's settings around the host's run
  std::string problem;                   // set when the session could not be run as planned
};

// Starts the simulator, waits for its link, holds the line open itself (so its settings can be
// read before and after the host's run), runs the host, lets go of the line and waits for the
// simulator to end by itself.
Session RunSession(const SessionSpec& spec);

}  // namespace vexlo::simtest
