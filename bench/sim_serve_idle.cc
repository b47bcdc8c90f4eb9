// How much faster than real time the simulator runs a chip that waits on its serial line: the
// chip is booted through the boot exchange with a program that polls SSR for a received byte,
// then left to poll for SIMULATED_SECONDS of simulated time while the wall clock is measured.
#include <chrono>
#include <cstdio>
#include <vector>

#include "boot_session.h"

int main() {
  using namespace h8sim;
  constexpr double kSimulatedSeconds = 5.0;
  constexpr double kGoal = 20.0;  // the serial line's waits must run at least 20x real time
  struct Chip {
    ChipModel model;
    const char* name;
    std::vector<std::uint8_t> program;
  } chips[] = {
      // mov.l #SSR1,er1; loop: btst #6,@er1; beq loop
      {ChipModel::k3067f, "H8/3067F", {0x7A, 0x01, 0x00, 0xFF, 0xFF, 0xBC, 0x7C, 0x10, 0x73,
                                       0x60, 0x47, 0xFA}},
      // mov.w #SSR,r1; loop: btst #6,@er1; beq loop
      {ChipModel::k3664f, "H8/3664F", {0x79, 0x01, 0xFF, 0xAC, 0x7C, 0x10, 0x73, 0x60, 0x47,
                                       0xFA}},
  };
  for (auto& c : chips) {
    BootSession s(c.model);
    std::vector<std::uint8_t> stream(256, 0x00);
    stream.insert(stream.end(), {0x55, 0x04, 0x00});
    c.program.resize(1024, 0xFF);
    stream.insert(stream.end(), c.program.begin(), c.program.end());
    s.host_send(stream);
    s.run_until_frames(4 + 1024 + 1, 100'000'000);
    if (!s.program_started()) {
      std::printf("%s: program did not start\n", c.name);
      return 1;
    }
    const States span = static_cast<States>(kSimulatedSeconds * s.chip().clock_hz());
    const auto t0 = std::chrono::steady_clock::now();
    SessionResult r = s.run_until(s.chip().clock().now() + span, std::chrono::seconds(600));
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (r.stop != SessionStop::kReached) {
      std::printf("%s: stopped early: %s\n", c.name, r.message.c_str());
      return 1;
    }
    const double factor = kSimulatedSeconds / wall;
    std::printf("%s waiting on its serial line: %.1f s simulated in %.3f s: %.1fx real time "
                "(goal: at least %.0fx) %s\n",
                c.name, kSimulatedSeconds, wall, factor, kGoal, factor >= kGoal ? "ok" : "MISSED");
  }
  return 0;
}
