#include "exec.h"

#include <cstdio>

#include "disasm.h"

namespace h8sim {
namespace {

constexpr Addr kTrapVectorBase = 8;  // TRAPA #n uses vector 8 + n

std::string hex_words(const Insn& in, int words) {
  std::string text;
  char buf[8];
  for (int i = 0; i < words; ++i) {
    std::snprintf(buf, sizeof buf, "%s%02x %02x", i ? " " : "", in.w[i] >> 8, in.w[i] & 0xFF);
    text += buf;
  }
  return text;
}

}  // namespace

void Exec::rts(Cpu& c, const Insn& in) {
  c.pc_ = pop_pc(c);
  prefetch(c);
  internal(c, 2);
  if (c.observer_ != nullptr) c.observer_->on_subroutine_return(in.pc);
}

// The exception frame is two words at SP: CCR in the upper byte of the first, then the
// return address (advanced mode: its bits 23..16 in the lower byte of the first word; normal
// mode: a copy of CCR there, ignored on return).
void Exec::rte(Cpu& c, const Insn&) {
  u16 first = load<u16>(c, c.er_[7]);
  u16 second = load<u16>(c, c.er_[7] + 2);
  c.er_[7] += 4;
  c.set_ccr(static_cast<u8>(first >> 8));
  Addr pc = advanced(c) ? (u32{first} & 0xFF) << 16 | second : second;
  c.pc_ = pc & c.addr_mask_;
  prefetch(c);
  internal(c, 2);
}

void Exec::trapa(Cpu& c, const Insn& in) {
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

void Exec::sleep(Cpu& c, const Insn&) {
  c.stop(StopReason::kSleep, c.pc_, "sleep at pc " + c.format_addr(c.pc_));
}

void Exec::unsupported(Cpu& c, const Insn& in) {
  int length = 2;
  std::string text = c.disassemble(in.pc, &length);
  for (char& ch : text) ch = ch == '\t' ? ' ' : ch;
  c.pc_ = in.pc;
  c.stop(StopReason::kUnsupported, in.pc,
         "unsupported instruction " + text + " at pc " + c.format_addr(in.pc) + " (opcode " +
             hex_words(in, length / 2) + ")");
}

void Exec::illegal(Cpu& c, const Insn& in) { illegal_words(c, in, 1); }

void Exec::illegal_words(Cpu& c, const Insn& in, int words) {
  c.pc_ = in.pc;
  c.stop(StopReason::kIllegalInstruction, in.pc,
         "illegal instruction at pc " + c.format_addr(in.pc) + " (opcode " + hex_words(in, words) +
             ")");
}

// A first word that several forms share: fetch later words until one form matches.
void Exec::group(Cpu& c, const Insn& in) {
  const Decoder& decoder = *c.decoder_;
  const auto& candidates = decoder.groups[decoder.first[in.w[0]].group];
  Insn x = in;
  int have = 1;
  for (;;) {
    x.w[have] = load<u16>(c, c.pc_);
    c.pc_ = (c.pc_ + 2) & c.addr_mask_;
    ++have;
    const InsnSpec* found = nullptr;
    bool undecided = false;
    for (const InsnSpec* spec : candidates) {
      int n = std::min<int>(have, spec->match_words);
      bool ok = true;
      for (int i = 0; i < n && ok; ++i) ok = (x.w[i] & spec->mask[i]) == spec->match[i];
      if (!ok) continue;
      if (spec->match_words <= have) {
        found = spec;
      } else {
        undecided = true;
      }
    }
    if (found != nullptr) {
      for (; have < found->length / 2; ++have) {
        x.w[have] = load<u16>(c, c.pc_);
        c.pc_ = (c.pc_ + 2) & c.addr_mask_;
      }
      found->handler(c, x);
      return;
    }
    if (!undecided || have == kMaxMatchWords) {
      illegal_words(c, x, have);
      return;
    }
  }
}

}  // namespace h8sim
