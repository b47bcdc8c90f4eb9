// The registers of an on-chip module, as the CPU's bus sees them.
//
// A module registers an IoDevice for its address range with Bus::attach(); the CPU never names
// a module. Callbacks may read the Clock (the time of the access) and have side effects
// (clearing a flag on read, starting a frame on write).
#pragma once

#include <cstdint>

#include "clock.h"

namespace h8sim {

class IoDevice {
 public:
  virtual ~IoDevice() = default;

  virtual std::uint8_t read8(Addr addr) = 0;
  virtual void write8(Addr addr, std::uint8_t value) = 0;

  // A word access at an even address. The default is two byte accesses, high byte (the even
  // address) first; a module whose registers treat word accesses differently (the H8/3067F
  // watchdog's password writes) overrides these.
  virtual std::uint16_t read16(Addr addr) {
    std::uint16_t high = read8(addr);
    return static_cast<std::uint16_t>(high << 8 | read8(addr + 1));
  }
  virtual void write16(Addr addr, std::uint16_t value) {
    write8(addr, static_cast<std::uint8_t>(value >> 8));
    write8(addr + 1, static_cast<std::uint8_t>(value));
  }
};

// The flash memory array's side door to its controller. While the controller is in a
// programming or verify mode the bus routes flash accesses through it; otherwise reads come
// straight from the array and writes are handed to it (to latch, or to flag as misuse).
class FlashPort {
 public:
  virtual ~FlashPort() = default;
  // A CPU read of flash offset `offset` while reads are routed (Bus::route_flash_reads(true)).
  virtual std::uint8_t flash_read8(Addr offset) = 0;
  // Every CPU write into the flash area, at flash offset `offset`.
  virtual void flash_write8(Addr offset, std::uint8_t value) = 0;
};

// Notifications of execution events that a module needs to watch (the flash controller's
// check that no subroutine return happens inside a programming span).
class ExecutionObserver {
 public:
  virtual ~ExecutionObserver() = default;
  virtual void on_subroutine_return(Addr pc) = 0;  // an RTS at `pc` has executed
};

}  // namespace h8sim
