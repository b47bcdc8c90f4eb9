// Plain registers that the simulated programs may touch but whose function is not modelled
// (SYSCR, port data direction registers, SCMR1, FENR): each reads back what was last written,
// starting from its value after reset.
#pragma once

#include <cstdint>
#include <vector>

#include "io_device.h"

namespace h8sim {

struct PlainRegister {
  Addr addr;
  std::uint8_t reset_value;
  const char* name;
};

class RegisterBlock : public IoDevice {
 public:
  // Covers the lowest to the highest listed address; unlisted addresses between them start at 0.
  explicit RegisterBlock(std::vector<PlainRegister> registers);

  Addr first() const { return first_; }
  Addr last() const { return last_; }
  void reset();
  std::uint8_t value(Addr addr) const { return values_[addr - first_]; }

  std::uint8_t read8(Addr addr) override { return values_[addr - first_]; }
  void write8(Addr addr, std::uint8_t value) override { values_[addr - first_] = value; }

 private:
  std::vector<PlainRegister> registers_;
  Addr first_ = 0, last_ = 0;
  std::vector<std::uint8_t> values_;
};

}  // namespace h8sim
