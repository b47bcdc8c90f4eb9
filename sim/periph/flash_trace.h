// The timeline of one chip's flash control: every change of an FLMCR1 control bit, every
// completed programming pulse, every misuse of the program/program-verify procedure the flash
// controller notices, and every reset (a watchdog overflow included), each with its simulated
// time.
//
// Text form (write_text), one record per line, fields separated by single spaces, times as
// states since power-on and as microseconds at the chip's clock with four decimals:
//
//   <states> <us> SET <bit>               an FLMCR1 bit (SWE, PSU, PV, P, ESU, EV, E) went 1
//   <states> <us> CLEAR <bit>             ... went 0
//   <states> <us> PULSE <states> <us>     a P pulse ended; its width (P set to P cleared)
//   <states> <us> MISUSE <text>           the procedure was broken; <text> says how and where
//   <states> <us> RESET <cause>           the chip was reset ("watchdog", "pin")
//
// for example "2400 120.0000 PULSE 2400 120.0000". The time of a PULSE line is the time P was
// cleared; MISUSE lines follow the record that revealed them.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "clock.h"

namespace h8sim {

struct FlashRecord {
  enum class Kind { kSet, kClear, kPulse, kMisuse, kReset };
  Kind kind;
  States at;
  std::string text;  // bit name, misuse description or reset cause; empty for a pulse
  States width = 0;  // pulse width (kPulse only)
};

class FlashTrace {
 public:
  explicit FlashTrace(std::uint32_t clock_hz) : clock_hz_(clock_hz) {}

  void add(FlashRecord record) { records_.push_back(std::move(record)); }
  const std::vector<FlashRecord>& records() const { return records_; }

  // Records of one kind, in time order.
  std::vector<FlashRecord> of_kind(FlashRecord::Kind kind) const;
  std::vector<FlashRecord> misuses() const { return of_kind(FlashRecord::Kind::kMisuse); }
  std::vector<FlashRecord> pulses() const { return of_kind(FlashRecord::Kind::kPulse); }
  std::vector<FlashRecord> resets() const { return of_kind(FlashRecord::Kind::kReset); }

  double to_us(States states) const { return static_cast<double>(states) * 1e6 / clock_hz_; }
  States from_us(double us) const {
    return static_cast<States>(us * static_cast<double>(clock_hz_) / 1e6 + 0.5);
  }

  // The whole timeline in the text form above.
  void write_text(std::ostream& out) const;
  std::string line(const FlashRecord& record) const;

 private:
  std::uint32_t clock_hz_;
  std::vector<FlashRecord> records_;
};

}  // namespace h8sim
