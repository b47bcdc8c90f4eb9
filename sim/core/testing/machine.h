// A whole simulated chip for tests: clock, bus and CPU, with code placed in RAM or flash and a
// run that is bounded both in simulated states and in wall-clock time.
#pragma once

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "bus.h"
#include "clock.h"
#include "cpu.h"
#include "memory_map.h"

namespace h8sim::testing {

struct Machine {
  explicit Machine(ChipModel model)
      : chip(chip_map(model)), bus(chip, clock), cpu(bus, clock, chip.mode) {}

  // Copies `bytes` to `addr` (RAM, flash or registers) without charging states.
  void load(Addr addr, const std::vector<std::uint8_t>& bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) bus.poke8(addr + static_cast<Addr>(i), bytes[i]);
  }

  // Runs until the CPU stops for another reason than a deadline, at most `budget` states
  // further and `wall` of host time; a run that hits either bound comes back as kStateBudget
  // (message says which bound).
  StopResult run(States budget = 1'000'000,
                 std::chrono::milliseconds wall = std::chrono::milliseconds(5000)) {
    auto start = std::chrono::steady_clock::now();
    cpu.set_state_budget(clock.now() + budget);
    for (;;) {
      StopResult r = cpu.run(clock.now() + 100'000);
      if (r.reason != StopReason::kDeadline) return r;
      if (std::chrono::steady_clock::now() - start > wall) {
        return {StopReason::kStateBudget, r.pc, "wall-clock bound exceeded"};
      }
    }
  }

  Clock clock;
  const ChipMap& chip;
  Bus bus;
  Cpu cpu;
};

}  // namespace h8sim::testing
