// The H8/300H instruction table. Each row gives the encoding (match and mask of up to three
// opcode words), the length, the mnemonic and the operands; the operands are also the
// template arguments of the handler, so the decoder, the handler and the disassembler read the
// same fields.
//
// Register fields: byte registers (R0H..R7L) and word registers (R0..E7) take a whole nibble;
// ERn takes its low three bits, the fourth bit belonging to the opcode. Displacements and
// absolute addresses of the 24-bit forms sit in a 32-bit field whose top byte is ignored.
#include <string_view>
#include <utility>
#include <vector>

#include "exec.h"
#include "isa.h"

namespace h8sim {
namespace {

// ---- operand descriptors ----
constexpr Operand R8(int nib) { return {Opk::kR8, static_cast<std::uint8_t>(nib), 0}; }
constexpr Operand R16(int nib) { return {Opk::kR16, static_cast<std::uint8_t>(nib), 0}; }
constexpr Operand R32(int nib) { return {Opk::kR32, static_cast<std::uint8_t>(nib), 0}; }
constexpr Operand Imm8(int at) { return {Opk::kImm8, 0, static_cast<std::uint8_t>(at)}; }
constexpr Operand Imm16(int at) { return {Opk::kImm16, 0, static_cast<std::uint8_t>(at)}; }
constexpr Operand Imm32(int at) { return {Opk::kImm32, 0, static_cast<std::uint8_t>(at)}; }
constexpr Operand BitNo(int nib) { return {Opk::kBitNo, static_cast<std::uint8_t>(nib), 0}; }
constexpr Operand Ind(int nib) { return {Opk::kInd, static_cast<std::uint8_t>(nib), 0}; }
constexpr Operand Disp16(int nib, int at) {
  return {Opk::kDisp16, static_cast<std::uint8_t>(nib), static_cast<std::uint8_t>(at)};
}
constexpr Operand Disp24(int nib, int at) {
  return {Opk::kDisp24, static_cast<std::uint8_t>(nib), static_cast<std::uint8_t>(at)};
}
constexpr Operand PostInc(int nib) { return {Opk::kPostInc, static_cast<std::uint8_t>(nib), 0}; }
constexpr Operand PreDec(int nib) { return {Opk::kPreDec, static_cast<std::uint8_t>(nib), 0}; }
constexpr Operand Abs8(int at) { return {Opk::kAbs8, 0, static_cast<std::uint8_t>(at)}; }
constexpr Operand Abs16(int at) { return {Opk::kAbs16, 0, static_cast<std::uint8_t>(at)}; }
constexpr Operand Abs24(int at) { return {Opk::kAbs24, 0, static_cast<std::uint8_t>(at)}; }
constexpr Operand PcRel8(int at) { return {Opk::kPcRel8, 0, static_cast<std::uint8_t>(at)}; }
constexpr Operand PcRel16(int at) { return {Opk::kPcRel16, 0, static_cast<std::uint8_t>(at)}; }
constexpr Operand MemInd8(int at) { return {Opk::kMemInd8, 0, static_cast<std::uint8_t>(at)}; }
constexpr Operand TrapNo(int nib) { return {Opk::kTrapNo, static_cast<std::uint8_t>(nib), 0}; }
constexpr Operand kCcr{Opk::kCcr, 0, 0};
constexpr Operand kNone{};
constexpr Operand kOne{Opk::kConst1, 0, 0};
constexpr Operand kTwo{Opk::kConst2, 0, 0};
constexpr Operand kFour{Opk::kConst4, 0, 0};

// ---- encodings ----
struct Enc {
  std::array<std::uint16_t, kMaxMatchWords> match{};
  std::array<std::uint16_t, kMaxMatchWords> mask{};
  std::uint8_t words = 0;
};
constexpr Enc E(std::uint16_t m0, std::uint16_t k0) { return {{m0, 0, 0}, {k0, 0, 0}, 1}; }
constexpr Enc E(std::uint16_t m0, std::uint16_t k0, std::uint16_t m1, std::uint16_t k1) {
  return {{m0, m1, 0}, {k0, k1, 0}, 2};
}
constexpr Enc E(std::uint16_t m0, std::uint16_t k0, std::uint16_t m1, std::uint16_t k1,
                std::uint16_t m2, std::uint16_t k2) {
  return {{m0, m1, m2}, {k0, k1, k2}, 3};
}

InsnSpec row(Enc e, int length, const char* mnemonic, Operand a, Operand b, Handler handler) {
  return {e.match, e.mask, e.words, static_cast<std::uint8_t>(length), mnemonic, {a, b}, handler};
}

// ---- rows by kind of handler ----
template <class T, Operand S, Operand D>
InsnSpec mov(Enc e, int length, const char* mn) {
  return row(e, length, mn, S, D, &Exec::mov<T, S, D>);
}
template <class T, AluOp op, Operand S, Operand D>
InsnSpec alu(Enc e, int length, const char* mn) {
  return row(e, length, mn, S, D, &Exec::alu<T, op, S, D>);
}
template <class T, UnOp op, Operand D>
InsnSpec unary(Enc e, const char* mn) {
  return row(e, 2, mn, D, kNone, &Exec::unary<T, op, D>);
}
template <class T, int delta, Operand Shown, Operand D>
InsnSpec incdec(Enc e, const char* mn) {
  if constexpr (Shown.kind == Opk::kNone) {
    return row(e, 2, mn, D, kNone, &Exec::incdec<T, delta, D>);
  } else {
    return row(e, 2, mn, Shown, D, &Exec::incdec<T, delta, D>);
  }
}
template <int delta, Operand Shown, Operand D>
InsnSpec adds(Enc e, const char* mn) {
  return row(e, 2, mn, Shown, D, &Exec::adds<delta, D>);
}
template <class T, bool is_signed, bool divide, Operand S, Operand D>
InsnSpec muldiv(Enc e, int length, const char* mn) {
  if constexpr (divide) {
    return row(e, length, mn, S, D, &Exec::divx<T, is_signed, S, D>);
  } else {
    return row(e, length, mn, S, D, &Exec::mulx<T, is_signed, S, D>);
  }
}
template <BitOp op, Operand B, Operand D>
InsnSpec bit(Enc e, int length, const char* mn) {
  return row(e, length, mn, B, D, &Exec::bit<op, B, D>);
}
template <bool call, Operand D>
InsnSpec jump(Enc e, int length, const char* mn) {
  return row(e, length, mn, D, kNone, &Exec::jump<call, D>);
}
template <CcrOp op, Operand S>
InsnSpec ccr_op(Enc e, int length, const char* mn) {
  return row(e, length, mn, S, kCcr, &Exec::ccr_op<op, S>);
}
template <Operand S>
InsnSpec ldc(Enc e, int length) {
  return row(e, length, "ldc", S, kCcr, &Exec::ldc_mem<S>);
}
template <Operand D>
InsnSpec stc(Enc e, int length) {
  return row(e, length, "stc", kCcr, D, &Exec::stc<D>);
}

using Table = std::vector<InsnSpec>;

// MOV.B and MOV.W in every addressing mode; `op` is the second opcode byte's family for the
// word forms (0x69, 0x6F, 0x6B, 0x6D, 0x6B) or the byte forms (0x68, 0x6E, 0x6A, 0x6C, 0x6A).
template <class T, Operand (*Reg)(int)>
void add_mov_bw(Table& t, std::uint16_t ind, std::uint16_t disp16, std::uint16_t abs_,
                std::uint16_t inc, const char* mn) {
  constexpr Operand r3 = Reg(3), r7 = Reg(7);
  t.push_back(mov<T, Ind(2), r3>(E(ind, 0xFF80), 2, mn));
  t.push_back(mov<T, r3, Ind(2)>(E(ind | 0x80, 0xFF80), 2, mn));
  t.push_back(mov<T, Disp16(2, 2), r3>(E(disp16, 0xFF80), 4, mn));
  t.push_back(mov<T, r3, Disp16(2, 2)>(E(disp16 | 0x80, 0xFF80), 4, mn));
  t.push_back(mov<T, Disp24(2, 5), r7>(E(0x7800, 0xFF8F, abs_ | 0x20, 0xFFF0), 8, mn));
  t.push_back(mov<T, r7, Disp24(2, 5)>(E(0x7800, 0xFF8F, abs_ | 0xA0, 0xFFF0), 8, mn));
  t.push_back(mov<T, PostInc(2), r3>(E(inc, 0xFF80), 2, mn));
  t.push_back(mov<T, r3, PreDec(2)>(E(inc | 0x80, 0xFF80), 2, mn));
  t.push_back(mov<T, Abs16(2), r3>(E(abs_, 0xFFF0), 4, mn));
  t.push_back(mov<T, r3, Abs16(2)>(E(abs_ | 0x80, 0xFFF0), 4, mn));
  t.push_back(mov<T, Abs24(3), r3>(E(abs_ | 0x20, 0xFFF0), 6, mn));
  t.push_back(mov<T, r3, Abs24(3)>(E(abs_ | 0xA0, 0xFFF0), 6, mn));
}

void add_moves(Table& t) {
  t.push_back(mov<u8, Imm8(1), R8(1)>(E(0xF000, 0xF000), 2, "mov.b"));
  t.push_back(mov<u8, R8(2), R8(3)>(E(0x0C00, 0xFF00), 2, "mov.b"));
  t.push_back(mov<u8, Abs8(1), R8(1)>(E(0x2000, 0xF000), 2, "mov.b"));
  t.push_back(mov<u8, R8(1), Abs8(1)>(E(0x3000, 0xF000), 2, "mov.b"));
  add_mov_bw<u8, R8>(t, 0x6800, 0x6E00, 0x6A00, 0x6C00, "mov.b");
  t.push_back(mov<u16, Imm16(2), R16(3)>(E(0x7900, 0xFFF0), 4, "mov.w"));
  t.push_back(mov<u16, R16(2), R16(3)>(E(0x0D00, 0xFF00), 2, "mov.w"));
  add_mov_bw<u16, R16>(t, 0x6900, 0x6F00, 0x6B00, 0x6D00, "mov.w");
  t.push_back(mov<u32, Imm32(2), R32(3)>(E(0x7A00, 0xFFF8), 6, "mov.l"));
  t.push_back(mov<u32, R32(2), R32(3)>(E(0x0F80, 0xFF88), 2, "mov.l"));
  // MOV.L memory forms: the prefix 01 00, then the MOV.W form with ERn fields.
  constexpr std::uint16_t p = 0x0100, pm = 0xFFFF;
  t.push_back(mov<u32, Ind(6), R32(7)>(E(p, pm, 0x6900, 0xFF88), 4, "mov.l"));
  t.push_back(mov<u32, R32(7), Ind(6)>(E(p, pm, 0x6980, 0xFF88), 4, "mov.l"));
  t.push_back(mov<u32, Disp16(6, 4), R32(7)>(E(p, pm, 0x6F00, 0xFF88), 6, "mov.l"));
  t.push_back(mov<u32, R32(7), Disp16(6, 4)>(E(p, pm, 0x6F80, 0xFF88), 6, "mov.l"));
  t.push_back(
      mov<u32, Disp24(6, 7), R32(11)>(E(p, pm, 0x7800, 0xFF8F, 0x6B20, 0xFFF8), 10, "mov.l"));
  // The store sets bit 7 of the byte after 78, unlike the byte and word stores.
  t.push_back(
      mov<u32, R32(11), Disp24(6, 7)>(E(p, pm, 0x7880, 0xFF8F, 0x6BA0, 0xFFF8), 10, "mov.l"));
  t.push_back(mov<u32, PostInc(6), R32(7)>(E(p, pm, 0x6D00, 0xFF88), 4, "mov.l"));
  t.push_back(mov<u32, R32(7), PreDec(6)>(E(p, pm, 0x6D80, 0xFF88), 4, "mov.l"));
  t.push_back(mov<u32, Abs16(4), R32(7)>(E(p, pm, 0x6B00, 0xFFF8), 6, "mov.l"));
  t.push_back(mov<u32, R32(7), Abs16(4)>(E(p, pm, 0x6B80, 0xFFF8), 6, "mov.l"));
  t.push_back(mov<u32, Abs24(5), R32(7)>(E(p, pm, 0x6B20, 0xFFF8), 8, "mov.l"));
  t.push_back(mov<u32, R32(7), Abs24(5)>(E(p, pm, 0x6BA0, 0xFFF8), 8, "mov.l"));
  // E-clock transfers with an external device: not run by this simulator.
  t.push_back(row(E(0x6A40, 0xFFF0), 4, "movfpe", Abs16(2), R8(3), &Exec::unsupported));
  t.push_back(row(E(0x6AC0, 0xFFF0), 4, "movtpe", R8(3), Abs16(2), &Exec::unsupported));
}

// ADD/SUB/CMP/AND/OR/XOR in their byte, word and long register and immediate forms.
template <AluOp op>
void add_alu(Table& t, int imm8, int rr8, int rr16, int imm16, int rr32, int imm32, const char* b,
             const char* w, const char* l) {
  if (imm8 >= 0) t.push_back(alu<u8, op, Imm8(1), R8(1)>(E(imm8 << 12, 0xF000), 2, b));
  if (rr8 >= 0) t.push_back(alu<u8, op, R8(2), R8(3)>(E(rr8 << 8, 0xFF00), 2, b));
  t.push_back(alu<u16, op, R16(2), R16(3)>(E(rr16 << 8, 0xFF00), 2, w));
  t.push_back(alu<u16, op, Imm16(2), R16(3)>(E(0x7900 | imm16 << 4, 0xFFF0), 4, w));
  if (rr32 >= 0) t.push_back(alu<u32, op, R32(2), R32(3)>(E(rr32 << 8 | 0x80, 0xFF88), 2, l));
  t.push_back(alu<u32, op, Imm32(2), R32(3)>(E(0x7A00 | imm32 << 4, 0xFFF8), 6, l));
}

void add_arithmetic(Table& t) {
  add_alu<AluOp::kAdd>(t, 0x8, 0x08, 0x09, 1, 0x0A, 1, "add.b", "add.w", "add.l");
  add_alu<AluOp::kSub>(t, -1, 0x18, 0x19, 3, 0x1A, 3, "sub.b", "sub.w", "sub.l");
  add_alu<AluOp::kCmp>(t, 0xA, 0x1C, 0x1D, 2, 0x1F, 2, "cmp.b", "cmp.w", "cmp.l");
  add_alu<AluOp::kAnd>(t, 0xE, 0x16, 0x66, 6, -1, 6, "and.b", "and.w", "and.l");
  add_alu<AluOp::kOr>(t, 0xC, 0x14, 0x64, 4, -1, 4, "or.b", "or.w", "or.l");
  add_alu<AluOp::kXor>(t, 0xD, 0x15, 0x65, 5, -1, 5, "xor.b", "xor.w", "xor.l");
  constexpr std::uint16_t lp = 0x01F0, lpm = 0xFFFF;  // AND/OR/XOR.L ERs,ERd
  t.push_back(alu<u32, AluOp::kAnd, R32(6), R32(7)>(E(lp, lpm, 0x6600, 0xFF88), 4, "and.l"));
  t.push_back(alu<u32, AluOp::kOr, R32(6), R32(7)>(E(lp, lpm, 0x6400, 0xFF88), 4, "or.l"));
  t.push_back(alu<u32, AluOp::kXor, R32(6), R32(7)>(E(lp, lpm, 0x6500, 0xFF88), 4, "xor.l"));
  t.push_back(alu<u8, AluOp::kAddx, Imm8(1), R8(1)>(E(0x9000, 0xF000), 2, "addx"));
  t.push_back(alu<u8, AluOp::kAddx, R8(2), R8(3)>(E(0x0E00, 0xFF00), 2, "addx"));
  t.push_back(alu<u8, AluOp::kSubx, Imm8(1), R8(1)>(E(0xB000, 0xF000), 2, "subx"));
  t.push_back(alu<u8, AluOp::kSubx, R8(2), R8(3)>(E(0x1E00, 0xFF00), 2, "subx"));

  t.push_back(incdec<u8, 1, kNone, R8(3)>(E(0x0A00, 0xFFF0), "inc"));
  t.push_back(incdec<u16, 1, kOne, R16(3)>(E(0x0B50, 0xFFF0), "inc.w"));
  t.push_back(incdec<u16, 2, kTwo, R16(3)>(E(0x0BD0, 0xFFF0), "inc.w"));
  t.push_back(incdec<u32, 1, kOne, R32(3)>(E(0x0B70, 0xFFF8), "inc.l"));
  t.push_back(incdec<u32, 2, kTwo, R32(3)>(E(0x0BF0, 0xFFF8), "inc.l"));
  t.push_back(incdec<u8, -1, kNone, R8(3)>(E(0x1A00, 0xFFF0), "dec.b"));
  t.push_back(incdec<u16, -1, kOne, R16(3)>(E(0x1B50, 0xFFF0), "dec.w"));
  t.push_back(incdec<u16, -2, kTwo, R16(3)>(E(0x1BD0, 0xFFF0), "dec.w"));
  t.push_back(incdec<u32, -1, kOne, R32(3)>(E(0x1B70, 0xFFF8), "dec.l"));
  t.push_back(incdec<u32, -2, kTwo, R32(3)>(E(0x1BF0, 0xFFF8), "dec.l"));
  t.push_back(adds<1, kOne, R32(3)>(E(0x0B00, 0xFFF8), "adds"));
  t.push_back(adds<2, kTwo, R32(3)>(E(0x0B80, 0xFFF8), "adds"));
  t.push_back(adds<4, kFour, R32(3)>(E(0x0B90, 0xFFF8), "adds"));
  t.push_back(adds<-1, kOne, R32(3)>(E(0x1B00, 0xFFF8), "subs"));
  t.push_back(adds<-2, kTwo, R32(3)>(E(0x1B80, 0xFFF8), "subs"));
  t.push_back(adds<-4, kFour, R32(3)>(E(0x1B90, 0xFFF8), "subs"));
  t.push_back(row(E(0x0F00, 0xFFF0), 2, "daa", R8(3), kNone, &Exec::daa<R8(3)>));
  t.push_back(row(E(0x1F00, 0xFFF0), 2, "das", R8(3), kNone, &Exec::das<R8(3)>));

  t.push_back(muldiv<u8, false, false, R8(2), R16(3)>(E(0x5000, 0xFF00), 2, "mulxu.b"));
  t.push_back(muldiv<u16, false, false, R16(2), R32(3)>(E(0x5200, 0xFF08), 2, "mulxu.w"));
  t.push_back(muldiv<u8, false, true, R8(2), R16(3)>(E(0x5100, 0xFF00), 2, "divxu.b"));
  t.push_back(muldiv<u16, false, true, R16(2), R32(3)>(E(0x5300, 0xFF08), 2, "divxu.w"));
  t.push_back(
      muldiv<u8, true, false, R8(6), R16(7)>(E(0x01C0, 0xFFFF, 0x5000, 0xFF00), 4, "mulxs.b"));
  t.push_back(
      muldiv<u16, true, false, R16(6), R32(7)>(E(0x01C0, 0xFFFF, 0x5200, 0xFF08), 4, "mulxs.w"));
  t.push_back(
      muldiv<u8, true, true, R8(6), R16(7)>(E(0x01D0, 0xFFFF, 0x5100, 0xFF00), 4, "divxs.b"));
  t.push_back(
      muldiv<u16, true, true, R16(6), R32(7)>(E(0x01D0, 0xFFFF, 0x5300, 0xFF08), 4, "divxs.w"));
}

// The one-operand instructions of the 0x10..0x13 and 0x17 rows: the second byte's high nibble
// picks the operation and the size (x0/x8 byte, x1/x9 word, x3/xB long).
template <UnOp op>
void add_unary(Table& t, std::uint16_t base, const char* b, const char* w, const char* l) {
  if (b != nullptr) t.push_back(unary<u8, op, R8(3)>(E(base, 0xFFF0), b));
  t.push_back(unary<u16, op, R16(3)>(E(base | 0x10, 0xFFF0), w));
  t.push_back(unary<u32, op, R32(3)>(E(base | 0x30, 0xFFF8), l));
}

void add_unaries(Table& t) {
  add_unary<UnOp::kShll>(t, 0x1000, "shll.b", "shll.w", "shll.l");
  add_unary<UnOp::kShal>(t, 0x1080, "shal.b", "shal.w", "shal.l");
  add_unary<UnOp::kShlr>(t, 0x1100, "shlr.b", "shlr.w", "shlr.l");
  add_unary<UnOp::kShar>(t, 0x1180, "shar.b", "shar.w", "shar.l");
  add_unary<UnOp::kRotxl>(t, 0x1200, "rotxl.b", "rotxl.w", "rotxl.l");
  add_unary<UnOp::kRotl>(t, 0x1280, "rotl.b", "rotl.w", "rotl.l");
  add_unary<UnOp::kRotxr>(t, 0x1300, "rotxr.b", "rotxr.w", "rotxr.l");
  add_unary<UnOp::kRotr>(t, 0x1380, "rotr.b", "rotr.w", "rotr.l");
  add_unary<UnOp::kNot>(t, 0x1700, "not.b", "not.w", "not.l");
  add_unary<UnOp::kNeg>(t, 0x1780, "neg.b", "neg.w", "neg.l");
  add_unary<UnOp::kExtu>(t, 0x1740, nullptr, "extu.w", "extu.l");
  add_unary<UnOp::kExts>(t, 0x17C0, nullptr, "exts.w", "exts.l");
}

// A bit instruction in its register form and, when `read_prefix` is given, in the @ERd and
// @aa:8 forms (prefix 7C/7E for the read-only operations, 7D/7F for the read-modify-write).
template <BitOp op>
void add_bit_imm(Table& t, std::uint16_t word, std::uint16_t memory_prefix, const char* mn) {
  t.push_back(bit<op, BitNo(2), R8(3)>(E(word, 0xFF80), 2, mn));
  t.push_back(bit<op, BitNo(6), Ind(2)>(E(memory_prefix, 0xFF8F, word, 0xFF8F), 4, mn));
  t.push_back(bit<op, BitNo(6), Abs8(1)>(E(memory_prefix | 0x0200, 0xFF00, word, 0xFF8F), 4, mn));
}
template <BitOp op>
void add_bit_reg(Table& t, std::uint16_t word, std::uint16_t memory_prefix, const char* mn) {
  t.push_back(bit<op, R8(2), R8(3)>(E(word, 0xFF00), 2, mn));
  t.push_back(bit<op, R8(6), Ind(2)>(E(memory_prefix, 0xFF8F, word, 0xFF0F), 4, mn));
  t.push_back(bit<op, R8(6), Abs8(1)>(E(memory_prefix | 0x0200, 0xFF00, word, 0xFF0F), 4, mn));
}

void add_bits(Table& t) {
  constexpr std::uint16_t kRead = 0x7C00, kModify = 0x7D00;
  add_bit_imm<BitOp::kSet>(t, 0x7000, kModify, "bset");
  add_bit_imm<BitOp::kNot>(t, 0x7100, kModify, "bnot");
  add_bit_imm<BitOp::kClr>(t, 0x7200, kModify, "bclr");
  add_bit_imm<BitOp::kTst>(t, 0x7300, kRead, "btst");
  add_bit_imm<BitOp::kOr>(t, 0x7400, kRead, "bor");
  add_bit_imm<BitOp::kIor>(t, 0x7480, kRead, "bior");
  add_bit_imm<BitOp::kXor>(t, 0x7500, kRead, "bxor");
  add_bit_imm<BitOp::kIxor>(t, 0x7580, kRead, "bixor");
  add_bit_imm<BitOp::kAnd>(t, 0x7600, kRead, "band");
  add_bit_imm<BitOp::kIand>(t, 0x7680, kRead, "biand");
  add_bit_imm<BitOp::kLd>(t, 0x7700, kRead, "bld");
  add_bit_imm<BitOp::kIld>(t, 0x7780, kRead, "bild");
  add_bit_imm<BitOp::kSt>(t, 0x6700, kModify, "bst");
  add_bit_imm<BitOp::kIst>(t, 0x6780, kModify, "bist");
  add_bit_reg<BitOp::kSet>(t, 0x6000, kModify, "bset");
  add_bit_reg<BitOp::kNot>(t, 0x6100, kModify, "bnot");
  add_bit_reg<BitOp::kClr>(t, 0x6200, kModify, "bclr");
  add_bit_reg<BitOp::kTst>(t, 0x6300, kRead, "btst");
}

constexpr const char* kConditionNames[16] = {"bra", "brn", "bhi", "bls", "bcc", "bcs",
                                             "bne", "beq", "bvc", "bvs", "bpl", "bmi",
                                             "bge", "blt", "bgt", "ble"};

template <int... cond>
void add_bcc(Table& t, std::integer_sequence<int, cond...>) {
  (t.push_back(row(E(static_cast<std::uint16_t>(0x4000 | cond << 8), 0xFF00), 2,
                   kConditionNames[cond], PcRel8(1), kNone, &Exec::bcc<cond, PcRel8(1)>)),
   ...);
  (t.push_back(row(E(static_cast<std::uint16_t>(0x5800 | cond << 4), 0xFFFF), 4,
                   kConditionNames[cond], PcRel16(2), kNone, &Exec::bcc<cond, PcRel16(2)>)),
   ...);
}

void add_branches(Table& t) {
  add_bcc(t, std::make_integer_sequence<int, 16>{});
  t.push_back(jump<false, Ind(2)>(E(0x5900, 0xFF8F), 2, "jmp"));
  t.push_back(jump<false, Abs24(1)>(E(0x5A00, 0xFF00), 4, "jmp"));
  t.push_back(jump<false, MemInd8(1)>(E(0x5B00, 0xFF00), 2, "jmp"));
  t.push_back(jump<true, PcRel8(1)>(E(0x5500, 0xFF00), 2, "bsr"));
  t.push_back(jump<true, PcRel16(2)>(E(0x5C00, 0xFFFF), 4, "bsr"));
  t.push_back(jump<true, Ind(2)>(E(0x5D00, 0xFF8F), 2, "jsr"));
  t.push_back(jump<true, Abs24(1)>(E(0x5E00, 0xFF00), 4, "jsr"));
  t.push_back(jump<true, MemInd8(1)>(E(0x5F00, 0xFF00), 2, "jsr"));
  t.push_back(row(E(0x5470, 0xFFFF), 2, "rts", kNone, kNone, &Exec::rts));
  t.push_back(row(E(0x5670, 0xFFFF), 2, "rte", kNone, kNone, &Exec::rte));
  t.push_back(row(E(0x5700, 0xFFCF), 2, "trapa", TrapNo(2), kNone, &Exec::trapa));
}

void add_system(Table& t) {
  t.push_back(row(E(0x0000, 0xFFFF), 2, "nop", kNone, kNone, &Exec::nop));
  t.push_back(row(E(0x0180, 0xFFFF), 2, "sleep", kNone, kNone, &Exec::sleep));
  t.push_back(ccr_op<CcrOp::kLoad, Imm8(1)>(E(0x0700, 0xFF00), 2, "ldc"));
  t.push_back(ccr_op<CcrOp::kLoad, R8(3)>(E(0x0300, 0xFFF0), 2, "ldc"));
  t.push_back(ccr_op<CcrOp::kAnd, Imm8(1)>(E(0x0600, 0xFF00), 2, "andc"));
  t.push_back(ccr_op<CcrOp::kOr, Imm8(1)>(E(0x0400, 0xFF00), 2, "orc"));
  t.push_back(ccr_op<CcrOp::kXor, Imm8(1)>(E(0x0500, 0xFF00), 2, "xorc"));
  t.push_back(stc<R8(3)>(E(0x0200, 0xFFF0), 2));
  // LDC/STC with memory: the prefix 01 40, then the MOV.W form with register field 0.
  constexpr std::uint16_t p = 0x0140, pm = 0xFFFF;
  t.push_back(ldc<Ind(6)>(E(p, pm, 0x6900, 0xFF8F), 4));
  t.push_back(stc<Ind(6)>(E(p, pm, 0x6980, 0xFF8F), 4));
  t.push_back(ldc<Disp16(6, 4)>(E(p, pm, 0x6F00, 0xFF8F), 6));
  t.push_back(stc<Disp16(6, 4)>(E(p, pm, 0x6F80, 0xFF8F), 6));
  t.push_back(ldc<Disp24(6, 7)>(E(p, pm, 0x7800, 0xFF8F, 0x6B20, 0xFFFF), 10));
  t.push_back(stc<Disp24(6, 7)>(E(p, pm, 0x7800, 0xFF8F, 0x6BA0, 0xFFFF), 10));
  t.push_back(ldc<PostInc(6)>(E(p, pm, 0x6D00, 0xFF8F), 4));
  t.push_back(stc<PreDec(6)>(E(p, pm, 0x6D80, 0xFF8F), 4));
  t.push_back(ldc<Abs16(4)>(E(p, pm, 0x6B00, 0xFFFF), 6));
  t.push_back(stc<Abs16(4)>(E(p, pm, 0x6B80, 0xFFFF), 6));
  t.push_back(ldc<Abs24(5)>(E(p, pm, 0x6B20, 0xFFFF), 8));
  t.push_back(stc<Abs24(5)>(E(p, pm, 0x6BA0, 0xFFFF), 8));
  t.push_back(
      row(E(0x7B5C, 0xFFFF, 0x598F, 0xFFFF), 4, "eepmov.b", kNone, kNone, &Exec::eepmov<false>));
  t.push_back(
      row(E(0x7BD4, 0xFFFF, 0x598F, 0xFFFF), 4, "eepmov.w", kNone, kNone, &Exec::eepmov<true>));
}

Table make_table() {
  Table t;
  add_moves(t);
  add_arithmetic(t);
  add_unaries(t);
  add_bits(t);
  add_branches(t);
  add_system(t);
  return t;
}

}  // namespace

std::span<const InsnSpec> instruction_table() {
  static const Table table = make_table();
  return table;
}

}  // namespace h8sim
