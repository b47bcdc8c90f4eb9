#include "register_block.h"

#include <algorithm>

namespace h8sim {

RegisterBlock::RegisterBlock(std::vector<PlainRegister> registers)
    : registers_(std::move(registers)) {
  if (registers_.empty()) return;
  auto [lo, hi] = std::minmax_element(
      registers_.begin(), registers_.end(),
      [](const PlainRegister& a, const PlainRegister& b) { return a.addr < b.addr; });
  first_ = lo->addr;
  last_ = hi->addr;
  reset();
}

void RegisterBlock::reset() {
  values_.assign(last_ - first_ + 1, 0);
  for (const PlainRegister& r : registers_) values_[r.addr - first_] = r.reset_value;
}

}  // namespace h8sim
