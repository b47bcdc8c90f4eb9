// A minimal serial transmitter: just enough of the chip's serial channel for a program to
// print. TDRE and TEND always read as set, nothing is ever received, and a byte goes out at
// once:
//  - SCI channel 1 of the H8/3067F/3068F: when TDRE is written 0 after a TDR write;
//  - SCI3 of the H8/3664F: on the TDR write itself.
// Other registers of the channel read back what was last written.
#pragma once

#include <cstdint>
#include <functional>

#include "io_device.h"
#include "memory_map.h"

namespace h8sim {

class TransmitModel : public IoDevice {
 public:
  using Sink = std::function<void(std::uint8_t)>;

  // The channel of `model`'s serial line; every transmitted byte goes to `sink`.
  TransmitModel(ChipModel model, Sink sink);

  Addr first() const { return first_; }  // SMR: the channel's registers for Bus::attach
  Addr last() const { return first_ + kRegisterCount - 1; }

  std::uint8_t read8(Addr addr) override;
  void write8(Addr addr, std::uint8_t value) override;

 private:
  static constexpr Addr kRegisterCount = 6;  // SMR, BRR, SCR, TDR, SSR, RDR
  static constexpr Addr kTdrOffset = 3;
  static constexpr Addr kSsrOffset = 4;
  static constexpr std::uint8_t kSsrTdre = 0x80;
  static constexpr std::uint8_t kSsrTend = 0x04;

  Addr first_;
  bool sends_on_tdr_write_;
  Sink sink_;
  std::uint8_t registers_[kRegisterCount] = {0, 0xFF, 0, 0xFF, kSsrTdre | kSsrTend, 0};
  bool tdr_full_ = false;
};

}  // namespace h8sim
