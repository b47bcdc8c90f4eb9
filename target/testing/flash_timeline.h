// Reading a block's run out of the simulator's flash timeline and the session's access logs:
// the pulses as a string of kinds, the waits between flash-control events, and a summary of
// anything the simulator flagged.
#pragma once

#include <string>
#include <vector>

#include "writer_session.h"

namespace vexlo::testing {

// The nominal pulse widths of one chip, in states (P set to P cleared).
struct PulseFigures {
  States short_pulse;
  States long_pulse;
  States additional;  // 0: the chip has no additional programming
};

// The waits of one chip's program/program-verify procedure, in states.
struct WaitFigures {
  States sci_init;           // BRR written to the serial channel's next control write
  States after_swe;          // SWE set to the first programming write
  States after_psu;          // PSU set to P set
  States after_p;            // P cleared to PSU cleared
  States after_psu_cleared;  // PSU cleared to the next FLMCR1 change
  States after_pv;           // PV set to the first dummy write
  States settle;             // a dummy write to its verify read
  States after_pv_cleared;   // PV cleared to the next write or FLMCR1 change
  States after_swe_cleared;  // SWE cleared to the reply's write into TDR
};

PulseFigures pulse_figures(const Target& target);
WaitFigures wait_figures(const Target& target);

// The pulses since record `from`, one letter each: 'S' short, 'L' long, 'A' additional, '?'
// any other width. A pulse of a kind lasts from its figure to its figure plus one pass of the
// pulse loop plus the clearing instruction's own states.
std::string pulse_kinds(const Target& target, const h8sim::FlashTrace& trace, std::size_t from);

// Every misuse and reset the simulator recorded, and every flash read made outside
// program-verify mode, one per line; empty when the run was clean.
std::string flagged(WriterSession& s);

// One measured wait.
struct Wait {
  std::string name;
  States measured;
  States figure;
};

// The waits of a block that verified at its first attempt (outcome of send_block), and of the
// serial set-up before the first block.
std::vector<Wait> measured_waits(WriterSession& s, const BlockOutcome& block);

}  // namespace vexlo::testing
