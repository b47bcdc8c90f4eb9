// `h8sim serve`: a simulated chip in boot mode on a pseudo-terminal, for host programs that
// expect a serial port.
#pragma once

#include <iosfwd>
#include <span>
#include <string>
#include <vector>

#include "faults.h"
#include "memory_map.h"

namespace h8sim {

struct ServeOptions {
  ChipModel chip = ChipModel::k3067f;
  std::string link;   // the symbolic link to the pseudo-terminal's slave
  std::string dump;   // the flash contents at the end, raw, the whole flash ("" = none)
  std::string trace;  // the flash-control timeline at the end ("" = none)
  bool pace = false;  // keep real time at the line's bit rate
  Faults faults;
};

// The usage text, fault list included.
std::string serve_usage();

// The arguments after "serve". False with a one-line *error on anything the usage disallows.
bool parse_serve_args(std::span<const std::string> args, ServeOptions* options, std::string* error);

// Serves one host session: waits for a host to open the link, runs the boot exchange and the
// program it loads, and ends once the host has closed the line again (exit status 0), or on
// SIGINT/SIGTERM (0), or when the simulated program stops the CPU (2, one line on `err`).
// The dump and trace files are written in every case.
int serve(const ServeOptions& options, std::ostream& err);

// The whole subcommand: "--help" prints the usage on `out` (status 0); otherwise parse (one
// line on `err` and status 2 on error), then serve.
int serve_command(std::span<const std::string> args, std::ostream& out, std::ostream& err);

}  // namespace h8sim
