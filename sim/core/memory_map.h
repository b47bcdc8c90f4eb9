// The memory maps and clock facts of the three simulated chips, taken from their hardware
// manuals. These tables belong to the simulator alone: the host programs keep their own chip
// profiles, so that a wrong value on one side shows up as a disagreement in the end-to-end tests
// instead of agreeing with itself.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "clock.h"

namespace h8sim {

enum class ChipModel { k3067f, k3068f, k3664f };

// Normal mode: 16-bit addresses, 2-byte vectors and return addresses (H8/3664F).
// Advanced mode: 24-bit addresses, 4-byte vectors and return addresses (H8/3067F, H8/3068F).
enum class CpuMode { kNormal, kAdvanced };

// A range of internal I/O registers and what one access to it costs. Registers inside an area
// that no module has attached read back the last value written to them.
struct IoArea {
  Addr first;          // first register address
  Addr last;           // last register address (inclusive)
  States byte_states;  // states of one byte access
  States word_states;  // states of one word access (two bus cycles on an 8-bit I/O bus)
};

inline constexpr std::size_t kMaxIoAreas = 2;

struct ChipMap {
  ChipModel model;
  std::string_view name;   // as the hardware manual names the chip, e.g. "H8/3067F"
  CpuMode mode;            // the CPU mode of single-chip (and boot) operation
  std::uint32_t clock_hz;  // system clock φ the writing programs are built for
  Addr flash_base;         // on-chip flash memory; the vector table sits at its bottom
  Addr flash_size;
  Addr ram_base;  // on-chip RAM
  Addr ram_size;
  States memory_states;  // on-chip ROM and RAM: 16-bit bus, states per byte or word access
  std::array<IoArea, kMaxIoAreas> io_areas;
  std::size_t io_area_count;

  std::span<const IoArea> io() const { return {io_areas.data(), io_area_count}; }
  Addr address_mask() const { return mode == CpuMode::kAdvanced ? 0xFFFFFFu : 0xFFFFu; }
};

// The table of one chip. Never fails: every ChipModel has a table.
const ChipMap& chip_map(ChipModel model);

// "3067f", "3068f" or "3664f" (as on the h8sim command line); nullopt for anything else.
std::optional<ChipModel> parse_chip_model(std::string_view text);

}  // namespace h8sim
