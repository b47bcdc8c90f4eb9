// `h8sim run`: runs a program from the chip's flash, from its reset vector, and copies what it
// transmits on the chip's serial line to `out` as it is sent.
#pragma once

#include <iosfwd>
#include <span>
#include <string>

#include "clock.h"
#include "memory_map.h"

namespace h8sim {

inline constexpr const char* kRunUsage =
    "usage: h8sim run --chip 3067f|3068f|3664f [--max-states N] [--stats] FILE";

struct RunOptions {
  ChipModel chip = ChipModel::k3067f;
  States max_states = kNever;
  bool stats = false;
  std::string file;
};

// The arguments after "run". False on anything the usage line doesn't allow.
bool parse_run_args(std::span<const std::string> args, RunOptions* options);

// Runs the program until SLEEP (exit status 0) or until it fails: illegal instruction, access
// to nothing, more states than max_states, an unreadable or malformed file (exit status 2,
// with one line on `err` naming the cause and, for a stopped run, the pc).
// With stats, "states=N instructions=M" goes to `err` at the end of a run.
int run_program(const RunOptions& options, std::ostream& out, std::ostream& err);

// The whole subcommand: parse, or print the usage line on `err` and return 2.
int run_command(std::span<const std::string> args, std::ostream& out, std::ostream& err);

}  // namespace h8sim
