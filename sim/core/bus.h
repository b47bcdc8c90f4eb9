// The chip's address space as the CPU sees it: on-chip flash, on-chip RAM and the internal I/O
// areas of one ChipMap, with the bus states of every access charged into the Clock as the
// access happens (so a register callback sees the time of its own access).
//
// RAM and flash reads take an inline fast path with no virtual call; only accesses to the I/O
// areas, writes into the flash area, routed flash reads and accesses to nothing leave it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "clock.h"
#include "io_device.h"
#include "memory_map.h"

namespace h8sim {

class Bus {
 public:
  // An access to an address where the chip has nothing. Reads of such an address return 0xFF.
  struct Fault {
    Addr addr;
    bool write;
  };

  // The flash array starts erased (all 0xFF), RAM and unattached registers start at 0.
  Bus(const ChipMap& chip, Clock& clock);
  Bus(const Bus&) = delete;
  Bus& operator=(const Bus&) = delete;

  const ChipMap& chip() const { return chip_; }

  // Hands the registers first..last (inclusive) to `device`. Fails (returns false, nothing
  // attached) when the range is not wholly inside one I/O area of the chip or overlaps a range
  // already attached. The device must outlive the bus or be detached first.
  bool attach(Addr first, Addr last, IoDevice* device);
  void detach(IoDevice* device);

  // The flash controller's side door; nullptr removes it. Without a port, CPU writes into the
  // flash area are ignored (flash is not RAM).
  void set_flash_port(FlashPort* port) { flash_port_ = port; }
  // While on, CPU reads of the flash area go to FlashPort::flash_read8 (the controller is in a
  // program-verify or erase-verify mode); while off they come straight from the array. Raises
  // attention, so a running CPU loop picks the change up after the current instruction.
  void route_flash_reads(bool on);
  bool flash_reads_routed() const { return flash_read_limit_ == 0; }

  // The flash array and RAM for loading and dumping; no states, no rules.
  std::span<std::uint8_t> flash() { return flash_; }
  std::span<std::uint8_t> ram() { return ram_; }

  // Debug access: no states, no device callbacks. In an I/O area peek8 returns the last value
  // written through the bus (or poked); poke8 into flash sets the array byte directly. Both
  // return/ignore 0xFF and report nothing for an address where the chip has nothing;
  // poke8 returns false there.
  std::uint8_t peek8(Addr addr) const;
  bool poke8(Addr addr, std::uint8_t value);

  // CPU accesses, charging the bus states of the area. A word access uses the even address
  // (bit 0 is ignored, as on the chip). An access to nothing records a Fault and raises
  // attention.
  std::uint8_t read8(Addr addr) {
    Addr off = addr - chip_.ram_base;
    if (off < ram_size_) {
      clock_.advance(mem_states_);
      return ram_[off];
    }
    if (addr < flash_read_limit_) {
      clock_.advance(mem_states_);
      return flash_[addr];
    }
    return slow_read8(addr);
  }
  std::uint16_t read16(Addr addr) {
    addr &= ~Addr{1};
    Addr off = addr - chip_.ram_base;
    if (off < ram_size_) {
      clock_.advance(mem_states_);
      return static_cast<std::uint16_t>(ram_[off] << 8 | ram_[off + 1]);
    }
    if (addr < flash_read_limit_) {
      clock_.advance(mem_states_);
      return static_cast<std::uint16_t>(flash_[addr] << 8 | flash_[addr + 1]);
    }
    return slow_read16(addr);
  }
  void write8(Addr addr, std::uint8_t value) {
    Addr off = addr - chip_.ram_base;
    if (off < ram_size_) {
      clock_.advance(mem_states_);
      ram_[off] = value;
      return;
    }
    slow_write8(addr, value);
  }
  void write16(Addr addr, std::uint16_t value) {
    addr &= ~Addr{1};
    Addr off = addr - chip_.ram_base;
    if (off < ram_size_) {
      clock_.advance(mem_states_);
      ram_[off] = static_cast<std::uint8_t>(value >> 8);
      ram_[off + 1] = static_cast<std::uint8_t>(value);
      return;
    }
    slow_write16(addr, value);
  }

  // Instruction fetch fast path: the bytes at `addr` when at least `bytes` of them lie in RAM
  // or (unrouted) flash, else nullptr. Reading through it charges nothing; the caller charges
  // fetch_states() per word it uses.
  const std::uint8_t* code_window(Addr addr, Addr bytes) const {
    return code_view().window(addr, bytes);
  }

  // The arrays behind code_window(), for a loop that fetches many instructions and keeps them
  // in registers. A view stays valid until attention is raised: only an access off the fast
  // path can change flash routing, and route_flash_reads() raises attention itself.
  struct CodeView {
    const std::uint8_t* ram;
    Addr ram_base;
    Addr ram_size;
    const std::uint8_t* flash;
    Addr flash_limit;  // flash bytes below this address are read from the array

    const std::uint8_t* window(Addr addr, Addr bytes) const {
      Addr off = addr - ram_base;
      if (off < ram_size && ram_size - off >= bytes) return ram + off;
      if (addr < flash_limit && flash_limit - addr >= bytes) return flash + addr;
      return nullptr;
    }
  };
  CodeView code_view() const {
    return {ram_.data(), chip_.ram_base, ram_size_, flash_.data(), flash_read_limit_};
  }
  States fetch_states() const { return mem_states_; }
  void charge(States states) { clock_.advance(states); }

  // Charges the states of one instruction-word fetch at `addr` without reading it: the
  // prefetch of a branch target, which the chip does before the branch completes.
  void charge_fetch(Addr addr) {
    if (addr - chip_.ram_base < ram_size_ || addr < flash_size_) {
      clock_.advance(mem_states_);
      return;
    }
    const IoSpace* space = io_space(addr);
    clock_.advance(space != nullptr ? space->area.word_states : mem_states_);
  }

  // Attention: set by every access that leaves the fast path (a register callback may have
  // scheduled an event or asked to stop; a fault happened) and by raise_attention(). The CPU
  // loop sees it after each instruction through span_limit().
  bool attention() const { return attention_; }
  void raise_attention() {
    attention_ = true;
    span_limit_ = 0;
  }
  void clear_attention() { attention_ = false; }

  // A span of the CPU loop: clears attention and keeps `limit` as span_limit() until
  // attention is raised, which drops it to 0. The loop then tests one value after each
  // instruction: clock time < span_limit().
  void begin_span(States limit) {
    attention_ = false;
    span_limit_ = limit;
  }
  States span_limit() const { return span_limit_; }

  // The first fault since the last take_fault(), if any; clears it.
  std::optional<Fault> take_fault();

 private:
  struct IoSpace {
    IoArea area;
    std::vector<IoDevice*> devices;     // per register; nullptr = unattached
    std::vector<std::uint8_t> latches;  // last value written to each unattached register
  };

  std::uint8_t slow_read8(Addr addr);
  std::uint16_t slow_read16(Addr addr);
  void slow_write8(Addr addr, std::uint8_t value);
  void slow_write16(Addr addr, std::uint16_t value);
  IoSpace* io_space(Addr addr);
  const IoSpace* io_space(Addr addr) const;
  bool in_flash(Addr addr) const { return addr - chip_.flash_base < flash_size_; }
  void fault(Addr addr, bool write);

  const ChipMap& chip_;
  Clock& clock_;
  States mem_states_;
  Addr ram_size_;
  Addr flash_size_;
  Addr flash_read_limit_;  // flash reads below this address take the fast path (0 when routed)
  std::vector<std::uint8_t> ram_;
  std::vector<std::uint8_t> flash_;
  std::vector<IoSpace> io_;
  FlashPort* flash_port_ = nullptr;
  bool attention_ = false;
  States span_limit_ = 0;
  std::optional<Fault> fault_;
};

}  // namespace h8sim
