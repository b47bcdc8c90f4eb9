// What the on-chip modules of each simulated chip need beyond its memory map: where the serial
// channel and the flash controller sit, which kind of each the chip has, where the boot program
// puts the transferred program, and the limits of the chip's program/program-verify procedure.
// Taken from the chips' hardware manuals; the host's chip profiles are deliberately not used.
#pragma once

#include <cstdint>

#include "clock.h"
#include "memory_map.h"

namespace h8sim {

// The two serial interface designs: the H8/3067 series' SCI (a TDR write does not clear TDRE,
// an RDR read does not clear RDRF) and the H8/300H Tiny series' SCI3 (both do).
enum class SciKind { kSci, kSci3 };
enum class WatchdogKind { kH83067, kH83664 };

struct PeriphFacts {
  ChipModel model;
  SciKind sci_kind;
  Addr sci_base;         // SMR; BRR, SCR, TDR, SSR, RDR follow at +1 .. +5
  Addr sci_extra_last;   // last register of the channel's block (SCMR1 on the H8/3067 series)
  Addr flmcr1;           // flash memory control register 1; FLMCR2 and the erase block regs follow
  Addr flash_regs_last;  // last flash-control register at flmcr1 onwards (EBR2 / EBR1)
  Addr load_address;     // where the boot program stores the transferred program and starts it
  WatchdogKind watchdog;

  // Program/program-verify procedure, in microseconds at the chip's clock.
  std::uint32_t first_pulse_us;       // the first (short) programming pulse
  std::uint32_t longest_pulse_us;     // the longest pulse the procedure ever applies
  std::uint32_t max_total_pulse_us;   // the most pulse time the whole procedure gives a cell
  std::uint32_t max_pulse_count;      // the most pulses the whole procedure gives a cell
  std::uint32_t additional_pulse_us;  // additional programming of already programmed bits; 0: none
};

// Pulses are measured from the instruction that sets P to the one that clears it, so they come
// out a few states longer than the loop between them; limits allow this many states per pulse.
inline constexpr States kPulseToleranceStates = 48;

inline constexpr PeriphFacts kFacts3067f{
    .model = ChipModel::k3067f,
    .sci_kind = SciKind::kSci,
    .sci_base = 0xFFFFB8,
    .sci_extra_last = 0xFFFFBE,
    .flmcr1 = 0xFEE030,
    .flash_regs_last = 0xFEE033,
    .load_address = 0xFFF400,
    .watchdog = WatchdogKind::kH83067,
    .first_pulse_us = 120,
    .longest_pulse_us = 400,
    .max_total_pulse_us = 4 * 120 + 400 * 400,
    .max_pulse_count = 404,
    .additional_pulse_us = 0,
};

inline constexpr PeriphFacts kFacts3068f = [] {
  PeriphFacts f = kFacts3067f;
  f.model = ChipModel::k3068f;
  f.load_address = 0xFFC720;
  return f;
}();

inline constexpr PeriphFacts kFacts3664f{
    .model = ChipModel::k3664f,
    .sci_kind = SciKind::kSci3,
    .sci_base = 0xFFA8,
    .sci_extra_last = 0xFFAD,
    .flmcr1 = 0xFF90,
    .flash_regs_last = 0xFF93,
    .load_address = 0xF780,
    .watchdog = WatchdogKind::kH83664,
    .first_pulse_us = 15,
    .longest_pulse_us = 200,
    .max_total_pulse_us = 6 * 15 + 995 * 100 + 5 * 5,
    .max_pulse_count = 1006,
    .additional_pulse_us = 10,
};

inline const PeriphFacts& periph_facts(ChipModel model) {
  switch (model) {
    case ChipModel::k3067f:
      return kFacts3067f;
    case ChipModel::k3068f:
      return kFacts3068f;
    case ChipModel::k3664f:
      break;
  }
  return kFacts3664f;
}

}  // namespace h8sim
