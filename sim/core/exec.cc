#include "exec.h"

#include <array>
#include <cstdio>

#include "disasm.h"

namespace h8sim {
namespace {

constexpr Addr kTrapVectorBase = 8;  // TRAPA #n uses vector 8 + n

std::string hex_words(Insn in, int words) {
  std::string text;
  char buf[8];
  for (int i = 0; i < words; ++i) {
    std::snprintf(buf, sizeof buf, "%s%02x %02x", i ? " " : "", in.bytes[2 * i],
                  in.bytes[2 * i + 1]);
    text += buf;
  }
  return text;
}

}  // namespace

void Exec::rts(Cpu& c, Insn in) {
  c.pc_ = pop_pc(c);
  prefetch(c);
  internal(c, 2);
  if (c.observer_ != nullptr) c.observer_->on_subroutine_return(in.pc);
}

// The exception frame is two words at SP: CCR in the upper byte of the first, then the
// return address (advanced mode: its bits 23..16 in the lower byte of the first word; normal
// mode: a copy of CCR there, ignored on return).
void Exec::rte(Cpu& c, Insn) {
  u16 first = load<u16>(c, c.er_[7]);
  u16 second = load<u16>(c, c.er_[7] + 2);
  c.er_[7] += 4;
  c.set_ccr(static_cast<u8>(first >> 8));
  Addr pc = advanced(c) ? (u32{first} & 0xFF) << 16 | second : second;
  c.pc_ = pc & c.addr_mask_;
  prefetch(c);
  internal(c, 2);
}

void Exec::trapa(Cpu& c, Insn in) {
  unsigned n = nib(in, 2) & 3;  // bits 5..4 of the second byte
  u8 ccr = c.ccr();
  u16 first = static_cast<u16>(ccr << 8 | (advanced(c) ? (c.pc_ >> 16) & 0xFF : ccr));
  c.er_[7] -= 4;
  store<u16>(c, c.er_[7] + 2, static_cast<u16>(c.pc_));
  store<u16>(c, c.er_[7], first);
  c.ccr_iuu_ |= kCcrI;
  Addr vector_size = advanced(c) ? 4 : 2;
  c.pc_ = read_vector(c, (kTrapVectorBase + n) * vector_size);
  prefetch(c);
  internal(c, 4);
}

void Exec::sleep(Cpu& c, Insn) {
  c.stop(StopReason::kSleep, c.pc_, "sleep at pc " + c.format_addr(c.pc_));
}

void Exec::unsupported(Cpu& c, Insn in) {
  int length = 2;
  std::string text = c.disassemble(in.pc, &length);
  for (char& ch : text) ch = ch == '\t' ? ' ' : ch;
  c.pc_ = in.pc;
  c.stop(StopReason::kUnsupported, in.pc,
         "unsupported instruction " + text + " at pc " + c.format_addr(in.pc) + " (opcode " +
             hex_words(in, length / 2) + ")");
}

void Exec::illegal(Cpu& c, Insn in) { illegal_words(c, in, 1); }

void Exec::illegal_words(Cpu& c, Insn in, int words) {
  c.pc_ = in.pc;
  c.stop(StopReason::kIllegalInstruction, in.pc,
         "illegal instruction at pc " + c.format_addr(in.pc) + " (opcode " + hex_words(in, words) +
             ")");
}

// A first word that several forms share: fetch later words until one form matches.
void Exec::group(Cpu& c, Insn in) {
  const Decoder& decoder = *c.decoder_;
  std::array<u16, kLongestInsnBytes / 2> words{};
  std::array<u8, kLongestInsnBytes> bytes{};
  words[0] = static_cast<u16>(word_at(in, 0));
  bytes[0] = in.bytes[0];
  bytes[1] = in.bytes[1];
  auto fetch = [&](int index) {
    u16 w = load<u16>(c, c.pc_);
    c.pc_ = (c.pc_ + 2) & c.addr_mask_;
    words[index] = w;
    bytes[2 * index] = static_cast<u8>(w >> 8);
    bytes[2 * index + 1] = static_cast<u8>(w);
  };
  Insn x{bytes.data(), in.pc};
  fetch(1);
  const auto& candidates =
      decoder.groups[decoder.first[words[0]].group].by_second_high[words[1] >> 8];
  int have = 2;
  for (;;) {
    int needed = 0;
    const InsnSpec* found = match_group(candidates, std::span(words.data(), have), &needed);
    if (found != nullptr) {
      for (; have < found->length / 2; ++have) fetch(have);
      found->handler(c, x);
      return;
    }
    if (needed <= have || have == kMaxMatchWords) {
      illegal_words(c, x, have);
      return;
    }
    fetch(have++);
  }
}

}  // namespace h8sim
