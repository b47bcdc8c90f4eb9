#include "cpu.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "disasm.h"
#include "isa.h"

namespace h8sim {

Cpu::Cpu(Bus& bus, Clock& clock, CpuMode mode)
    : bus_(bus),
      clock_(clock),
      mode_(mode),
      addr_mask_(mode == CpuMode::kAdvanced ? 0xFFFFFF : 0xFFFF),
      decoder_(&cpu_decoder()) {}

void Cpu::reset() {
  reset_pending_ = false;
  ccr_iuu_ |= kCcrI;
  if (mode_ == CpuMode::kAdvanced) {
    std::uint32_t high = bus_.read16(0);
    pc_ = (high << 16 | bus_.read16(2)) & addr_mask_;
  } else {
    pc_ = bus_.read16(0);
  }
}

void Cpu::request_reset() {
  reset_pending_ = true;
  bus_.raise_attention();
}

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

std::string Cpu::format_addr(Addr addr) const {
  char buf[16];
  std::snprintf(buf, sizeof buf, mode_ == CpuMode::kAdvanced ? "0x%06x" : "0x%04x",
                static_cast<unsigned>(addr));
  return buf;
}

void Cpu::stop(StopReason reason, Addr pc, std::string message) {
  stopped_ = true;
  stop_ = StopResult{reason, pc, std::move(message)};
  bus_.raise_attention();
}

// Fetches every word of the instruction (charging each fetch), then runs its handler.
inline void Cpu::step() {
  Insn in;
  in.pc = pc_;
  insn_pc_ = pc_;
  in.w[0] = bus_.read16(pc_);
  const DecodeEntry& entry = decoder_->first[in.w[0]];
  Addr next = pc_ + 2;
  for (unsigned i = 1; i < entry.words; ++i) {
    in.w[i] = bus_.read16(next & addr_mask_);
    next += 2;
  }
  pc_ = next & addr_mask_;
  ++instructions_;
  entry.handler(*this, in);
}

StopResult Cpu::fault_stop(const Bus::Fault& fault) {
  int length = 2;
  std::string text = disassemble(insn_pc_, &length);
  std::string opcode;
  char buf[8];
  for (int i = 0; i < length; ++i) {
    std::snprintf(buf, sizeof buf, "%s%02x", i ? " " : "", bus_.peek8((insn_pc_ + i) & addr_mask_));
    opcode += buf;
  }
  return {StopReason::kUnmappedAccess, insn_pc_,
          std::string(fault.write ? "write to" : "read of") + " unmapped address " +
              format_addr(fault.addr) + " at pc " + format_addr(insn_pc_) + " (opcode " + opcode +
              ")"};
}

StopResult Cpu::run(States until) {
  stopped_ = false;
  const States budget_limit = budget_ == kNever ? kNever : budget_ + 1;
  for (;;) {
    if (reset_pending_) reset();
    if (clock_.stop_requested()) {
      return {StopReason::kStopRequested, pc_, clock_.stop_reason() + " at pc " + format_addr(pc_)};
    }
    States now = clock_.now();
    if (now >= budget_limit) {
      return {StopReason::kStateBudget, pc_,
              "state budget of " + std::to_string(budget_) + " states exceeded at pc " +
                  format_addr(pc_)};
    }
    if (now >= until) return {StopReason::kDeadline, pc_, {}};
    States deadline = clock_.next_deadline();
    if (deadline <= now) {
      clock_.run_due();
      continue;
    }
    States limit = std::min({until, deadline, budget_limit});
    bus_.clear_attention();
    while (clock_.now() < limit && !bus_.attention()) step();
    if (std::optional<Bus::Fault> fault = bus_.take_fault()) {
      pc_ = insn_pc_;
      return fault_stop(*fault);
    }
    if (stopped_) return stop_;
  }
}

std::string Cpu::disassemble(Addr addr, int* length) const {
  std::array<std::uint8_t, 10> bytes{};
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = bus_.peek8((addr + static_cast<Addr>(i)) & addr_mask_);
  }
  Disassembly d = h8sim::disassemble(bytes, addr, mode_);
  if (length != nullptr) *length = d.length;
  return d.text;
}

}  // namespace h8sim
