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

// Fetches every word of the instruction (charging each fetch), then runs its handler. Code in
// RAM or flash is read straight from the array and its fetches charged together.
inline void Cpu::step() {
  constexpr Addr kLongestInsn = 10;
  Insn in;
  in.pc = pc_;
  insn_pc_ = pc_;
  if (const std::uint8_t* p = bus_.code_window(pc_, kLongestInsn)) {
    in.w[0] = static_cast<std::uint16_t>(p[0] << 8 | p[1]);
    const DecodeEntry& entry = decoder_->first[in.w[0]];
    in.w[1] = static_cast<std::uint16_t>(p[2] << 8 | p[3]);
    in.w[2] = static_cast<std::uint16_t>(p[4] << 8 | p[5]);
    in.w[3] = static_cast<std::uint16_t>(p[6] << 8 | p[7]);
    in.w[4] = static_cast<std::uint16_t>(p[8] << 8 | p[9]);
    unsigned words = entry.words;
    Handler handler = entry.handler;
    if (entry.group != kNoGroup) {  // a prefixed form: decided by the second word
      const InsnSpec* spec = decoder_->groups[entry.group].single[in.w[1] >> 8];
      if (spec != nullptr && (in.w[1] & spec->mask[1]) == spec->match[1]) {
        words = spec->length / 2;
        handler = spec->handler;
      }
    }
    bus_.charge(words * bus_.fetch_states());
    pc_ = (pc_ + 2 * words) & addr_mask_;
    ++instructions_;
    handler(*this, in);
    return;
  }
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
