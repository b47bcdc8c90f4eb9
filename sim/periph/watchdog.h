// The watchdog timers of the simulated chips. The counters are not ticked: each derives its
// count from the time it was started and the prescaler's phase, and keeps one Clock event at
// the time it will overflow.
//
// H8/3664F (WatchdogTiny): TCSRWD 0xFFC0, TCWD 0xFFC1, TMWD 0xFFC2. A write to TCSRWD changes
// bit 6, 4, 2 or 0 only where the write-inhibit bit just above it is written as 0; WDON and
// WRST only while TCSRWE was already set; TCWD only while TCWE is set. TMWD's low nibble selects
// the count clock: 1xxx = φ/(64·2^xxx) (0xFF: φ/8192); 0xxx, the internal oscillator, is taken
// as φ/8192 as well. The prescaler runs from power-on. When TCWD overflows (0xFF to 0x00) the
// chip is reset and WRST is set. After a reset the watchdog is stopped.
//
// H8/3067F/3068F (Watchdog3067): TCSR/TCNT and RSTCSR at 0xFFFF8C-0xFFFF8F. TCSR and TCNT are
// written only by a word write to 0xFFFF8C (upper byte 0xA5: the lower byte to TCSR; 0x5A: to
// TCNT); byte writes are ignored, as on the chip. RSTCSR is written by a word write to 0xFFFF8E
// (0xA5 00 clears WOVF; 0x5A xx writes RSTE and RSTS) and read at 0xFFFF8F. The count clocks
// (CKS) are φ/2, /32, /64, /128, /256, /512, /2048, /4096. In watchdog mode (WT/IT) an overflow
// sets WOVF and, with RSTE set, resets the chip; in interval mode it sets OVF.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "clock.h"
#include "io_device.h"

namespace h8sim {

// Called when a watchdog overflow resets the chip (at the overflow's time, between
// instructions), with the cause for the trace.
using ResetRequest = std::function<void(const std::string& cause)>;

// A counter that counts input-clock ticks of φ/divider, the prescaler running from time 0.
class TickCounter {
 public:
  // Starts counting from `value` at time `now`.
  void start(States now, std::uint8_t value, States divider);
  void stop(States now);
  // Loads `value` at time `now`; a running counter counts on from it.
  void load(States now, std::uint8_t value);
  std::uint8_t value(States now) const;
  bool running() const { return running_; }
  // The time of the tick that takes the counter from 0xFF to 0x00.
  States overflow_time() const;

 private:
  bool running_ = false;
  std::uint8_t base_ = 0;
  States start_ = 0;
  States divider_ = 1;
};

class WatchdogTiny : public IoDevice {
 public:
  static constexpr Addr kTcsrwd = 0xFFC0, kTcwd = 0xFFC1, kTmwd = 0xFFC2;

  WatchdogTiny(Clock& clock, ResetRequest reset);
  ~WatchdogTiny() override;

  void reset();  // the state after a reset; WRST is kept when the watchdog caused it
  std::uint8_t read8(Addr addr) override;
  void write8(Addr addr, std::uint8_t value) override;

 private:
  States divider() const;
  void restart();
  void overflow();

  Clock& clock_;
  ResetRequest reset_;
  std::uint8_t tcsrwd_ = 0;  // TCWE, TCSRWE, WDON, WRST (the inhibit bits read as 1)
  std::uint8_t tmwd_ = 0xFF;
  TickCounter counter_;
  Clock::EventId event_ = 0;
};

class Watchdog3067 : public IoDevice {
 public:
  static constexpr Addr kTcsr = 0xFFFF8C, kTcnt = 0xFFFF8D, kRstcsrWrite = 0xFFFF8E,
                        kRstcsrRead = 0xFFFF8F;

  Watchdog3067(Clock& clock, ResetRequest reset);
  ~Watchdog3067() override;

  void reset();
  std::uint8_t read8(Addr addr) override;
  void write8(Addr addr, std::uint8_t value) override;
  void write16(Addr addr, std::uint16_t value) override;

 private:
  States divider() const;
  void restart(std::uint8_t count);
  void overflow();

  Clock& clock_;
  ResetRequest reset_;
  std::uint8_t tcsr_ = 0x18;
  std::uint8_t rstcsr_ = 0x1F;
  std::uint8_t read_ovf_ = 0;  // OVF read as 1 since it rose
  TickCounter counter_;
  Clock::EventId event_ = 0;
};

}  // namespace h8sim
