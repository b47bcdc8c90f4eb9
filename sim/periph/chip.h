// One simulated chip: clock, bus, CPU and the on-chip modules of a ChipModel (serial channel,
// flash memory with its controller, watchdog timer, and the plain registers the writing
// programs touch), wired together.
//
// Typical use (a program in flash, as after a reset in single-chip mode):
//   Chip chip(ChipModel::k3664f);
//   chip.load(0, image);
//   chip.reset();
//   chip.sci().set_transmit_sink(...);
//   chip.cpu().run(budget);
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "bus.h"
#include "chip_facts.h"
#include "clock.h"
#include "cpu.h"
#include "flash_control.h"
#include "flash_trace.h"
#include "memory_map.h"
#include "register_block.h"
#include "sci.h"
#include "watchdog.h"

namespace h8sim {

class Chip {
 public:
  explicit Chip(ChipModel model);
  Chip(const Chip&) = delete;
  Chip& operator=(const Chip&) = delete;

  ChipModel model() const { return map_.model; }
  const ChipMap& map() const { return map_; }
  const PeriphFacts& facts() const { return facts_; }
  std::uint32_t clock_hz() const { return map_.clock_hz; }

  Clock& clock() { return clock_; }
  Bus& bus() { return bus_; }
  Cpu& cpu() { return cpu_; }
  Sci& sci() { return sci_; }
  FlashControl& flash_control() { return flash_; }
  const FlashTrace& trace() const { return trace_; }
  FlashTrace& trace() { return trace_; }
  // The flash contents (offset = address), as the array holds them.
  std::span<const std::uint8_t> flash() { return bus_.flash(); }

  // Copies `bytes` to `addr` onward in flash or RAM, with no states and no flash rules.
  // Returns false (nothing copied) when the range is not wholly inside one of them.
  bool load(Addr addr, std::span<const std::uint8_t> bytes);

  // The reset pin: every module to its state after reset, the CPU from the reset vector.
  void reset();

  // Replaces what a watchdog reset does after the modules have been reset (default: the CPU
  // restarts from the reset vector). The boot-mode session restarts its boot program instead.
  void set_reset_hook(std::function<void()> hook) { reset_hook_ = std::move(hook); }

 private:
  void reset_modules();
  void watchdog_reset(const std::string& cause);

  const ChipMap& map_;
  const PeriphFacts& facts_;
  Clock clock_;
  Bus bus_;
  Cpu cpu_;
  FlashTrace trace_;
  Sci sci_;
  FlashControl flash_;
  std::unique_ptr<WatchdogTiny> watchdog_tiny_;
  std::unique_ptr<Watchdog3067> watchdog_3067_;
  std::vector<std::unique_ptr<RegisterBlock>> plain_;
  std::function<void()> reset_hook_;
};

}  // namespace h8sim
