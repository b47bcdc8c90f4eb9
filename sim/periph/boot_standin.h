// What the chip's on-chip boot program does, as the serial line sees it, written as C++ logic
// in place of the (unavailable) boot program's code:
//
//   host sends                      stand-in answers
//   0x00 bytes (bit-rate adjust)    0x00, after `zeros_to_adjust` of them
//   0x55 (0x00 bytes before it      0xAA
//         are ignored)
//   size high byte, size low byte   each echoed
//   `size` program bytes            each echoed and stored from the load address
//   -                               flash erased, 0xAA, program started at its first byte
//
// A size of 0, or one that runs past the end of on-chip RAM, ends the exchange with no answer
// (the boot program cannot store such a program). Bytes after the program are ignored.
#pragma once

#include <cstdint>
#include <functional>

#include "faults.h"

namespace h8sim {

inline constexpr std::uint8_t kBootZero = 0x00, kBootInquiry = 0x55, kBootAck = 0xAA;
inline constexpr std::uint8_t kBootEraseFailed = 0xFF;  // in place of kBootAck: erasing failed

class BootStandIn {
 public:
  enum class Phase { kAdjusting, kAwaitInquiry, kSizeHigh, kSizeLow, kProgram, kDone, kFailed };

  struct Hooks {
    std::function<bool()> adjust;            // set the bit rate; false: cannot
    std::function<void(std::uint8_t)> send;  // one byte to the host
    std::function<void(std::uint32_t index, std::uint8_t)> store;  // program byte `index`
    std::function<void()> erase;                                   // erase the whole flash
    std::function<void()> start;  // run the program once the 0xAA is out
  };

  // `max_size`: the most program bytes that fit from the load address to the end of RAM.
  BootStandIn(const Faults& faults, unsigned zeros_to_adjust, std::uint32_t max_size, Hooks hooks);

  // A byte from the host, received in full.
  void receive(std::uint8_t value);
  // Back to the start, as after a reset in boot mode.
  void restart();

  Phase phase() const { return phase_; }
  std::uint32_t size() const { return size_; }

 private:
  void send_checked(std::uint8_t value, bool corrupt);

  const Faults& faults_;
  unsigned zeros_to_adjust_;
  std::uint32_t max_size_;
  Hooks hooks_;
  Phase phase_ = Phase::kAdjusting;
  unsigned zeros_ = 0;
  std::uint32_t size_ = 0;
  std::uint32_t received_ = 0;
};

}  // namespace h8sim
