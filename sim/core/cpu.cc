#include "cpu.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <new>

#include "disasm.h"
#include "isa.h"

namespace h8sim {

Cpu::Cpu(Bus& bus, Clock& clock, CpuMode mode)
    : bus_(bus),
      clock_(clock),
      mode_(mode),
      addr_mask_(mode == CpuMode::kAdvanced ? 0xFFFFFF : 0xFFFF),
      decoder_(&cpu_decoder()),
      ram_decoded_(make_slots(bus.ram().size() / 2)),
      flash_decoded_(make_slots(bus.flash().size() / 2)) {}

// Zeroed memory straight from the allocator: the pages of a large table stay untouched (and
// cost nothing) until code at their addresses runs.
Cpu::SlotTable Cpu::make_slots(std::size_t count) {
  auto* slots = static_cast<DecodedInsn*>(std::calloc(count, sizeof(DecodedInsn)));
  if (slots == nullptr) throw std::bad_alloc();
  return SlotTable(slots);
}

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

// The hot loop. Code in RAM or flash is read straight from the array and decoded once per
// address: each fetch compares the opcode bytes with the decoded slot's key and decodes again
// only when they differ. The fetches of all the instruction's words are charged together
// before the handler runs (which then charges its own accesses), and the handler reads its
// fields from the array. What the loop keeps in registers (the arrays, the slot tables) stays
// valid until attention is raised, which ends the span.
void Cpu::run_span() {
  const Bus::CodeView code = bus_.code_view();
  DecodedInsn* const ram_slots = ram_decoded_.get();
  DecodedInsn* const flash_slots = flash_decoded_.get();
  const Addr mask = addr_mask_;
  Clock& clock = clock_;
  Bus& bus = bus_;
  std::uint64_t count = 0;
  Addr pc;
  do {
    pc = pc_;
    const std::uint8_t* p;
    DecodedInsn* slot;
    Addr ram_off = pc - code.ram_base;
    if (ram_off < code.ram_size && code.ram_size - ram_off >= kLongestInsnBytes) {
      p = code.ram + ram_off;
      slot = ram_slots + ram_off / 2;
    } else if (pc < code.flash_limit && code.flash_limit - pc >= kLongestInsnBytes) {
      p = code.flash + pc;
      slot = flash_slots + pc / 2;
    } else [[unlikely]] {
      insn_pc_ = pc;
      step_slow();
      ++count;
      continue;
    }
    std::uint64_t opcode;
    std::memcpy(&opcode, p, sizeof opcode);
    if (!slot->matches(opcode)) [[unlikely]]
      decode_into(slot, p);
    clock.advance(slot->fetch_states);
    pc_ = (pc + slot->length) & mask;
    ++count;
    slot->handler(*this, Insn{p, pc});
  } while (clock.now() < bus.span_limit());
  insn_pc_ = pc;
  instructions_ += count;
}

void Cpu::decode_into(DecodedInsn* slot, const std::uint8_t* bytes) const {
  std::array<std::uint16_t, kMaxMatchWords> words;
  for (int i = 0; i < kMaxMatchWords; ++i) {
    words[i] = static_cast<std::uint16_t>(bytes[2 * i] << 8 | bytes[2 * i + 1]);
  }
  unsigned length = 2 * decoder_->words(words[0]);
  Handler handler = decoder_->handler(words[0]);
  unsigned key_bytes = 2;
  if (decoder_->first[words[0]].group != kNoGroup) {
    // A form that later words decide (up to kMaxMatchWords of them, all in the key). When no
    // form matches, the group dispatcher runs: it fetches through the bus and reports the
    // illegal instruction.
    int needed = 0;
    key_bytes = 2 * kMaxMatchWords;
    if (const InsnSpec* spec = find_spec(*decoder_, words, &needed)) {
      length = spec->length;
      handler = spec->handler;
    }
  }
  std::array<std::uint8_t, sizeof slot->mask> mask_bytes{};
  for (unsigned i = 0; i < key_bytes; ++i) mask_bytes[i] = 0xFF;
  std::uint64_t opcode;
  std::memcpy(&opcode, bytes, sizeof opcode);
  std::memcpy(&slot->mask, mask_bytes.data(), sizeof slot->mask);
  slot->inverted_key = ~(opcode & slot->mask);
  slot->handler = handler;
  slot->length = length;
  slot->fetch_states = static_cast<std::uint32_t>(length / 2 * bus_.fetch_states());
}

void Cpu::step_slow() {
  std::array<std::uint8_t, kLongestInsnBytes> bytes{};
  Insn in{bytes.data(), pc_};
  Addr next = pc_;
  unsigned words = 1;
  for (unsigned i = 0; i < words; ++i) {
    std::uint16_t w = bus_.read16(next & addr_mask_);
    bytes[2 * i] = static_cast<std::uint8_t>(w >> 8);
    bytes[2 * i + 1] = static_cast<std::uint8_t>(w);
    if (i == 0) words = decoder_->words(w);
    next += 2;
  }
  pc_ = next & addr_mask_;
  decoder_->handler(static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]))(*this, in);
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
    bus_.begin_span(limit);
    run_span();
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
