// The flash memory of a simulated chip seen through its controller: FLMCR1 (and the flash
// registers beside it), the programming latches, the cells and the program/program-verify
// procedure's rules.
//
// Programming. With SWE set (and PV, PSU, P clear) a byte write into the flash area goes to the
// byte's latch; nothing reaches the cells yet. A pulse of P, with PSU set beforehand, acts on
// every latched 0 bit: the bit's accumulated pulse time grows by the pulse's width, and once it
// reaches the cell's need the cell reads 0. A cell needs slow_cells × the chip's first pulse
// (less kPulseToleranceStates, for loops a few states short), so by default one first pulse
// programs it. Cells only ever go from 1 to 0 here; only erase_all() (the boot program's erase)
// sets them back. In program-verify mode (PV) a dummy write to a byte makes the next read of it
// return the cell contents.
//
// Misuse, recorded in the FlashTrace as it happens (the model carries on as the chip would):
// P set without PSU (no effect) or with SWE clear (no effect), a pulse longer than the
// procedure's longest, a bit that already reads 0 pulsed again (except, where the chip has
// additional programming, by a pulse no longer than that), a cell's accumulated pulse time
// beyond what the whole procedure can give, a subroutine return between the first flash write
// of an attempt and the clearing of P or between a dummy write and its verify read, a flash
// read while SWE is set outside program-verify mode (or in it without a dummy write), a flash
// write outside programming mode or during a pulse. Each misuse is recorded once per pulse or
// span, naming the first address concerned and the number of bytes.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <unordered_map>

#include "chip_facts.h"
#include "clock.h"
#include "flash_trace.h"
#include "io_device.h"

namespace h8sim {

// FLMCR1 bits.
inline constexpr std::uint8_t kFlmcrFwe = 0x80, kFlmcrSwe = 0x40, kFlmcrEsu = 0x20,
                              kFlmcrPsu = 0x10, kFlmcrEv = 0x08, kFlmcrPv = 0x04, kFlmcrE = 0x02,
                              kFlmcrP = 0x01;

class FlashControl : public IoDevice, public FlashPort, public ExecutionObserver {
 public:
  // `cells` is the flash array (flash offset = index); `route_reads` switches the bus's routing
  // of CPU flash reads through flash_read8 (on while SWE is set).
  FlashControl(Clock& clock, const PeriphFacts& facts, std::uint32_t clock_hz,
               std::span<std::uint8_t> cells, FlashTrace& trace,
               std::function<void(bool)> route_reads);
  FlashControl(const FlashControl&) = delete;
  FlashControl& operator=(const FlashControl&) = delete;

  Addr first() const { return facts_.flmcr1; }
  Addr last() const { return facts_.flash_regs_last; }

  // Faults: cells that need `pulses` first pulses to program (default 1); a byte that reads
  // 0x00 and that erasing does not change.
  void set_slow_cells(unsigned pulses);
  void add_stuck_zero(Addr offset);

  // The boot program's erase: every byte 0xFF (stuck bytes stay 0x00), pulse history cleared.
  void erase_all();
  // A chip reset: the control registers clear (recorded as bit changes), a pulse under way ends.
  void reset();

  std::uint8_t flmcr1() const { return flmcr1_; }
  // The accumulated pulse time of one bit, in states.
  States accumulated(Addr offset, int bit) const;

  std::uint8_t read8(Addr addr) override;
  void write8(Addr addr, std::uint8_t value) override;
  std::uint8_t flash_read8(Addr offset) override;
  void flash_write8(Addr offset, std::uint8_t value) override;
  void on_subroutine_return(Addr pc) override;

 private:
  void write_flmcr1(std::uint8_t value);
  void record_bit_changes(std::uint8_t old_value, std::uint8_t new_value);
  void end_pulse();
  void misuse(std::string text);
  std::string hex(Addr value) const;

  Clock& clock_;
  const PeriphFacts& facts_;
  std::span<std::uint8_t> cells_;
  FlashTrace& trace_;
  std::function<void(bool)> route_reads_;

  std::uint32_t clock_hz_;
  States cell_need_;         // accumulated pulse time that programs a cell
  States longest_pulse_;     // the longest pulse allowed, tolerance included
  States additional_pulse_;  // 0 where the chip has no additional programming
  States max_accumulated_;   // the most pulse time the procedure gives a cell, with tolerance

  std::uint8_t flmcr1_ = 0;
  std::array<std::uint8_t, 8> other_regs_{};  // FLMCR2, EBR1, EBR2 ... (read back as written)
  std::map<Addr, std::uint8_t> latches_;      // latched bytes; absent = 0xFF
  std::unordered_map<Addr, std::array<States, 8>> accumulated_;
  std::set<Addr> stuck_zero_;
  bool pulse_on_ = false;  // P set with PSU (and SWE): the cells are being programmed
  States pulse_start_ = 0;
  bool write_span_ = false;  // from the first latching write of an attempt to P cleared
  bool write_span_flagged_ = false;
  std::optional<Addr> dummy_written_;  // a dummy write in PV mode awaiting its verify read
  bool verify_span_flagged_ = false;
  bool read_flagged_ = false;   // one "read outside verify mode" per SWE period
  bool write_flagged_ = false;  // one "write outside programming mode" per SWE period
};

}  // namespace h8sim
