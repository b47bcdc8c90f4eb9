#include "disasm.h"

#include <array>
#include <cstdio>

#include "isa.h"

namespace h8sim {
namespace {

constexpr const char* kByteRegs[16] = {"r0h", "r1h", "r2h", "r3h", "r4h", "r5h", "r6h", "r7h",
                                       "r0l", "r1l", "r2l", "r3l", "r4l", "r5l", "r6l", "r7l"};
constexpr const char* kWordRegs[16] = {"r0", "r1", "r2", "r3", "r4", "r5", "r6", "r7",
                                       "e0", "e1", "e2", "e3", "e4", "e5", "e6", "e7"};

struct Fields {
  std::span<const std::uint8_t> bytes;
  unsigned byte(unsigned k) const { return bytes[k]; }
  unsigned nib(unsigned k) const { return (bytes[k >> 1] >> ((k & 1) ? 0 : 4)) & 0xF; }
  unsigned word(unsigned k) const { return byte(k) << 8 | byte(k + 1); }
  unsigned b24(unsigned k) const { return byte(k) << 16 | byte(k + 1) << 8 | byte(k + 2); }
};

std::string format(const char* fmt, unsigned a, unsigned b = 0) {
  char buf[48];
  std::snprintf(buf, sizeof buf, fmt, a, b);
  return buf;
}

std::string branch(int displacement, Addr target) {
  char buf[48];
  if (displacement == 0) {
    std::snprintf(buf, sizeof buf, ".0 (0x%x)", static_cast<unsigned>(target));
  } else {
    std::snprintf(buf, sizeof buf, ".%+d (0x%x)", displacement, static_cast<unsigned>(target));
  }
  return buf;
}

std::string operand(const Operand& op, const Fields& f, Addr next_pc, Addr mask) {
  switch (op.kind) {
    case Opk::kNone:
      return {};
    case Opk::kR8:
      return kByteRegs[f.nib(op.nib)];
    case Opk::kR16:
      return kWordRegs[f.nib(op.nib)];
    case Opk::kR32:
      return format("er%u", f.nib(op.nib) & 7);
    case Opk::kImm8:
      return format("#0x%x", f.byte(op.at));
    case Opk::kImm16:
      return format("#0x%x", f.word(op.at));
    case Opk::kImm32:
      return format("#0x%x", f.word(op.at) << 16 | f.word(op.at + 2));
    case Opk::kBitNo:
      return format("#%u", f.nib(op.nib) & 7);
    case Opk::kConst1:
      return "#1";
    case Opk::kConst2:
      return "#2";
    case Opk::kConst4:
      return "#4";
    case Opk::kInd:
      return format("@er%u", f.nib(op.nib) & 7);
    case Opk::kDisp16:
      return format("@(0x%x:16,er%u)", f.word(op.at), f.nib(op.nib) & 7);
    case Opk::kDisp24:
      return format("@(0x%x:24,er%u)", f.b24(op.at), f.nib(op.nib) & 7);
    case Opk::kPostInc:
      return format("@er%u+", f.nib(op.nib) & 7);
    case Opk::kPreDec:
      return format("@-er%u", f.nib(op.nib) & 7);
    case Opk::kAbs8:
      return format("@0x%x:8", f.byte(op.at));
    case Opk::kAbs16:
      return format("@0x%x:16", f.word(op.at));
    case Opk::kAbs24:
      return format("@0x%x:24", f.b24(op.at));
    case Opk::kPcRel8: {
      int d = static_cast<std::int8_t>(f.byte(op.at));
      return branch(d, (next_pc + d) & mask);
    }
    case Opk::kPcRel16: {
      int d = static_cast<std::int16_t>(f.word(op.at));
      return branch(d, (next_pc + d) & mask);
    }
    case Opk::kMemInd8:
      return format("@@%u (0x%x)", f.byte(op.at), f.byte(op.at));
    case Opk::kCcr:
      return "ccr";
    case Opk::kTrapNo:
      return format("#%u", f.nib(op.nib) & 3);
  }
  return {};
}

}  // namespace

Disassembly disassemble(std::span<const std::uint8_t> bytes, Addr pc, CpuMode mode) {
  std::array<std::uint16_t, kMaxMatchWords> words{};
  std::size_t count = std::min<std::size_t>(bytes.size() / 2, kMaxMatchWords);
  for (std::size_t i = 0; i < count; ++i)
    words[i] = static_cast<std::uint16_t>(bytes[2 * i] << 8 | bytes[2 * i + 1]);
  int needed = 0;
  const InsnSpec* spec = find_spec(cpu_decoder(), std::span(words.data(), count), &needed);
  if (spec == nullptr || spec->length > bytes.size()) {
    unsigned w = bytes.size() >= 2 ? words[0] : (bytes.empty() ? 0 : bytes[0]);
    return {2, format(".word\t0x%04x", w)};
  }
  Addr mask = mode == CpuMode::kAdvanced ? 0xFFFFFF : 0xFFFF;
  Fields f{bytes.first(spec->length)};
  std::string text = spec->mnemonic;
  Addr next_pc = pc + spec->length;
  for (std::size_t i = 0; i < spec->operands.size(); ++i) {
    std::string op = operand(spec->operands[i], f, next_pc, mask);
    if (op.empty()) break;
    text += (i == 0 ? "\t" : ",");
    text += op;
  }
  return {spec->length, text};
}

}  // namespace h8sim
