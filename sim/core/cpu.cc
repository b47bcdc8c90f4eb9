#include "cpu.h"

namespace h8sim {

Cpu::Cpu(Bus& bus, Clock& clock, CpuMode mode)
    : bus_(bus),
      clock_(clock),
      mode_(mode),
      addr_mask_(mode == CpuMode::kAdvanced ? 0xFFFFFF : 0xFFFF) {}

void Cpu::reset() {}
void Cpu::request_reset() { reset_pending_ = true; }
std::uint8_t Cpu::ccr() const {
  return static_cast<std::uint8_t>(ccr_iuu_ | h_ << 5 | n_ << 3 | z_ << 2 | v_ << 1 | c_);
}
void Cpu::set_ccr(std::uint8_t value) {
  ccr_iuu_ = value & (kCcrI | kCcrUi | kCcrU);
  h_ = (value >> 5) & 1;
  n_ = (value >> 3) & 1;
  z_ = (value >> 2) & 1;
  v_ = (value >> 1) & 1;
  c_ = value & 1;
}
StopResult Cpu::run(States) {
  return {StopReason::kIllegalInstruction, pc_, "not yet implemented"};
}
std::string Cpu::disassemble(Addr, int* length) const {
  if (length) *length = 2;
  return {};
}

}  // namespace h8sim
