// Faults that a simulated chip in boot mode can be given, for tests of the host's error paths.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "clock.h"

namespace h8sim {

struct Faults {
  bool no_answer = false;                     // never answers the stream of 0x00 bytes
  std::optional<std::uint8_t> first_byte;     // answers the 0x00 stream with this byte
  std::optional<std::uint8_t> after_55;       // answers 0x55 with this byte
  bool echo_size_high = false;                // echoes the size's high byte wrong (inverted)
  bool echo_size_low = false;                 // echoes the size's low byte wrong (inverted)
  std::optional<std::uint32_t> echo_data;     // echoes program byte N (1-based) wrong (inverted)
  bool no_ack = false;                        // answers 0xFF (erase failed), not 0xAA, after the program
  std::vector<Addr> stuck_zero;               // flash offsets that read 0x00 and don't erase
  unsigned slow_cells = 1;                    // cells need this many first programming pulses
  std::optional<std::uint64_t> drop_byte;     // host byte N is lost (1 = its first non-zero byte, the 0x55)
  std::optional<std::uint64_t> hangup_after;  // the line closes after N host bytes (counted as drop_byte)
};

// Adds one fault given as on the h8sim command line ("echo-data=5", "stuck-zero=0x1000").
// Returns false with a one-line message in *error for an unknown or malformed fault.
bool parse_fault(std::string_view spec, Faults& faults, std::string* error);

// The usage text's lines describing every fault, each ending in '\n'.
std::string_view fault_usage();

}  // namespace h8sim
