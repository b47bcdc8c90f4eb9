// The instruction handlers, written once per operation and instantiated per operand mode from
// the instruction table's own operand descriptors, so what an instruction does and how it is
// shown cannot disagree about where its fields are.
//
// States: step() has already charged the fetch of every instruction word. Handlers charge
// their data, stack and vector accesses through the bus and their internal states here, and
// branches charge the fetch of the word at their destination (the prefetch that completes a
// branch), so the totals follow the manual's I/J/K/L/M/N counts.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>

#include "cpu.h"
#include "isa.h"

namespace h8sim {

template <class T>
struct Width;
template <>
struct Width<std::uint8_t> {
  static constexpr std::uint32_t kSign = 0x80;
  static constexpr std::uint32_t kHalf = 0xF;  // H: carry out of bit 3
  static constexpr int kBits = 8;
};
template <>
struct Width<std::uint16_t> {
  static constexpr std::uint32_t kSign = 0x8000;
  static constexpr std::uint32_t kHalf = 0xFFF;  // H: carry out of bit 11
  static constexpr int kBits = 16;
};
template <>
struct Width<std::uint32_t> {
  static constexpr std::uint32_t kSign = 0x80000000;
  static constexpr std::uint32_t kHalf = 0xFFFFFFF;  // H: carry out of bit 27
  static constexpr int kBits = 32;
};

enum class AluOp { kAdd, kAddx, kSub, kSubx, kCmp, kAnd, kOr, kXor };
enum class UnOp {
  kNot,
  kNeg,
  kExtu,
  kExts,
  kShll,
  kShal,
  kShlr,
  kShar,
  kRotxl,
  kRotl,
  kRotxr,
  kRotr
};
enum class BitOp {
  kSet,
  kNot,
  kClr,
  kTst,
  kOr,
  kIor,
  kXor,
  kIxor,
  kAnd,
  kIand,
  kLd,
  kIld,
  kSt,
  kIst
};
enum class CcrOp { kLoad, kAnd, kOr, kXor };

using u8 = std::uint8_t;
using u16 = std::uint16_t;
using u32 = std::uint32_t;

struct Exec {
  // ---- instruction fields ----
  static constexpr unsigned byte(Insn in, unsigned k) { return in.bytes[k]; }
  static constexpr unsigned nib(Insn in, unsigned k) {
    return (in.bytes[k >> 1] >> ((k & 1) ? 0 : 4)) & 0xF;
  }
  static constexpr u32 word_at(Insn in, unsigned k) { return byte(in, k) << 8 | byte(in, k + 1); }
  static constexpr u32 bytes24_at(Insn in, unsigned k) {
    return byte(in, k) << 16 | byte(in, k + 1) << 8 | byte(in, k + 2);
  }
  static constexpr u32 sext8(u32 v) { return static_cast<u32>(static_cast<std::int8_t>(v)); }
  static constexpr u32 sext16(u32 v) { return static_cast<u32>(static_cast<std::int16_t>(v)); }
  static constexpr u32 sext24(u32 v) { return (v & 0x800000) ? (v | 0xFF000000) : v; }

  // ---- registers ----
  template <class T>
  static T reg(const Cpu& c, unsigned f) {
    u32 v = c.er_[f & 7];
    if constexpr (sizeof(T) == 1) {
      return static_cast<T>((f & 8) ? v : v >> 8);
    } else if constexpr (sizeof(T) == 2) {
      return static_cast<T>((f & 8) ? v >> 16 : v);
    } else {
      return v;
    }
  }
  template <class T>
  static void set_reg(Cpu& c, unsigned f, T value) {
    u32& r = c.er_[f & 7];
    if constexpr (sizeof(T) == 1) {
      r = (f & 8) ? ((r & ~0xFFu) | value) : ((r & ~0xFF00u) | u32{value} << 8);
    } else if constexpr (sizeof(T) == 2) {
      r = (f & 8) ? ((r & 0xFFFFu) | u32{value} << 16) : ((r & ~0xFFFFu) | value);
    } else {
      r = value;
    }
  }

  // ---- bus ----
  static void internal(Cpu& c, States states) { c.clock_.advance(states); }
  static void prefetch(Cpu& c) { c.bus_.charge_fetch(c.pc_); }
  template <class T>
  static T load(Cpu& c, Addr a) {
    a &= c.addr_mask_;
    if constexpr (sizeof(T) == 1) {
      return c.bus_.read8(a);
    } else if constexpr (sizeof(T) == 2) {
      return c.bus_.read16(a);
    } else {
      u32 high = c.bus_.read16(a);
      return high << 16 | c.bus_.read16((a + 2) & c.addr_mask_);
    }
  }
  template <class T>
  static void store(Cpu& c, Addr a, T v) {
    a &= c.addr_mask_;
    if constexpr (sizeof(T) == 1) {
      c.bus_.write8(a, v);
    } else if constexpr (sizeof(T) == 2) {
      c.bus_.write16(a, v);
    } else {
      c.bus_.write16(a, static_cast<u16>(v >> 16));
      c.bus_.write16((a + 2) & c.addr_mask_, static_cast<u16>(v));
    }
  }
  static bool advanced(const Cpu& c) { return c.mode_ == CpuMode::kAdvanced; }
  // A return address or branch address: a longword in advanced mode, a word in normal mode.
  static void push_pc(Cpu& c, Addr pc) {
    if (advanced(c)) {
      c.er_[7] -= 4;
      store<u32>(c, c.er_[7], pc);
    } else {
      c.er_[7] -= 2;
      store<u16>(c, c.er_[7], static_cast<u16>(pc));
    }
  }
  static Addr pop_pc(Cpu& c) {
    Addr pc;
    if (advanced(c)) {
      pc = load<u32>(c, c.er_[7]);
      c.er_[7] += 4;
    } else {
      pc = load<u16>(c, c.er_[7]);
      c.er_[7] += 2;
    }
    return pc & c.addr_mask_;
  }
  static Addr read_vector(Cpu& c, Addr table_addr) {
    return (advanced(c) ? load<u32>(c, table_addr) : load<u16>(c, table_addr)) & c.addr_mask_;
  }

  // ---- operands ----
  template <Operand O, class T>
  static Addr ea(Cpu& c, Insn in) {
    if constexpr (O.kind == Opk::kInd) {
      return c.er_[nib(in, O.nib) & 7];
    } else if constexpr (O.kind == Opk::kDisp16) {
      return c.er_[nib(in, O.nib) & 7] + sext16(word_at(in, O.at));
    } else if constexpr (O.kind == Opk::kDisp24) {
      return c.er_[nib(in, O.nib) & 7] + sext24(bytes24_at(in, O.at));
    } else if constexpr (O.kind == Opk::kPostInc) {
      u32& r = c.er_[nib(in, O.nib) & 7];
      Addr a = r;
      r += sizeof(T);
      internal(c, 2);
      return a;
    } else if constexpr (O.kind == Opk::kPreDec) {
      u32& r = c.er_[nib(in, O.nib) & 7];
      r -= sizeof(T);
      internal(c, 2);
      return r;
    } else if constexpr (O.kind == Opk::kAbs8) {
      return 0xFFFFFF00u | byte(in, O.at);
    } else if constexpr (O.kind == Opk::kAbs16) {
      return sext16(word_at(in, O.at));
    } else {
      static_assert(O.kind == Opk::kAbs24, "not a memory operand");
      return bytes24_at(in, O.at);
    }
  }
  static constexpr bool is_reg(Opk k) { return k == Opk::kR8 || k == Opk::kR16 || k == Opk::kR32; }

  template <class T, Operand O>
  static T get(Cpu& c, Insn in) {
    if constexpr (is_reg(O.kind)) {
      return reg<T>(c, nib(in, O.nib));
    } else if constexpr (O.kind == Opk::kImm8) {
      return static_cast<T>(byte(in, O.at));
    } else if constexpr (O.kind == Opk::kImm16) {
      return static_cast<T>(word_at(in, O.at));
    } else if constexpr (O.kind == Opk::kImm32) {
      return static_cast<T>(word_at(in, O.at) << 16 | word_at(in, O.at + 2));
    } else if constexpr (O.kind == Opk::kConst1) {
      return 1;
    } else if constexpr (O.kind == Opk::kConst2) {
      return 2;
    } else if constexpr (O.kind == Opk::kConst4) {
      return 4;
    } else {
      return load<T>(c, ea<O, T>(c, in));
    }
  }
  template <class T, Operand O>
  static void put(Cpu& c, Insn in, T v) {
    if constexpr (is_reg(O.kind)) {
      set_reg<T>(c, nib(in, O.nib), v);
    } else {
      store<T>(c, ea<O, T>(c, in), v);
    }
  }

  // ---- flags ----
  template <class T>
  static void nz(Cpu& c, T r) {
    c.n_ = (r & Width<T>::kSign) != 0;
    c.z_ = r == 0;
  }
  template <class T>
  static void logic_flags(Cpu& c, T r) {
    nz(c, r);
    c.v_ = 0;
  }
  template <class T>
  static T add_flags(Cpu& c, T a, T b, unsigned carry_in) {
    std::uint64_t sum = std::uint64_t{a} + b + carry_in;
    T r = static_cast<T>(sum);
    c.h_ = ((a & Width<T>::kHalf) + (b & Width<T>::kHalf) + carry_in) > Width<T>::kHalf;
    c.c_ = (sum >> Width<T>::kBits) & 1;
    c.v_ = ((~(a ^ b) & (a ^ r)) & Width<T>::kSign) != 0;
    c.n_ = (r & Width<T>::kSign) != 0;
    return r;
  }
  template <class T>
  static T sub_flags(Cpu& c, T a, T b, unsigned borrow_in) {
    T r = static_cast<T>(a - b - borrow_in);
    c.h_ = (a & Width<T>::kHalf) < (b & Width<T>::kHalf) + borrow_in;
    c.c_ = std::uint64_t{a} < std::uint64_t{b} + borrow_in;
    c.v_ = (((a ^ b) & (a ^ r)) & Width<T>::kSign) != 0;
    c.n_ = (r & Width<T>::kSign) != 0;
    return r;
  }

  // ---- data transfer ----
  template <class T, Operand S, Operand D>
  static void mov(Cpu& c, Insn in) {
    T v = get<T, S>(c, in);
    put<T, D>(c, in, v);
    logic_flags(c, v);
  }
  static void unsupported(Cpu& c, Insn in);

  // ---- arithmetic and logic ----
  template <class T, AluOp op, Operand S, Operand D>
  static void alu(Cpu& c, Insn in) {
    T b = get<T, S>(c, in);
    T a = get<T, D>(c, in);
    T r;
    if constexpr (op == AluOp::kAdd) {
      r = add_flags<T>(c, a, b, 0);
      c.z_ = r == 0;
    } else if constexpr (op == AluOp::kAddx) {
      r = add_flags<T>(c, a, b, c.c_);
      c.z_ =
          c.z_ && r == 0;  // Z can only be cleared: a multi-byte sum is zero only if every byte is
    } else if constexpr (op == AluOp::kSub || op == AluOp::kCmp) {
      r = sub_flags<T>(c, a, b, 0);
      c.z_ = r == 0;
    } else if constexpr (op == AluOp::kSubx) {
      r = sub_flags<T>(c, a, b, c.c_);
      c.z_ = c.z_ && r == 0;
    } else {
      if constexpr (op == AluOp::kAnd) r = a & b;
      if constexpr (op == AluOp::kOr) r = a | b;
      if constexpr (op == AluOp::kXor) r = a ^ b;
      logic_flags(c, r);
    }
    if constexpr (op != AluOp::kCmp) put<T, D>(c, in, r);
  }
  // INC and DEC: V on signed overflow; C and H unchanged.
  template <class T, int delta, Operand D>
  static void incdec(Cpu& c, Insn in) {
    T a = get<T, D>(c, in);
    T r = static_cast<T>(a + delta);
    u32 overflow = delta > 0 ? (~a & r) : (a & ~r);
    c.v_ = (overflow & Width<T>::kSign) != 0;
    nz(c, r);
    put<T, D>(c, in, r);
  }
  // ADDS and SUBS: address arithmetic on a whole ERn, no flags.
  template <int delta, Operand D>
  static void adds(Cpu& c, Insn in) {
    c.er_[nib(in, D.nib) & 7] += static_cast<u32>(delta);
  }
  template <class T, UnOp op, Operand D>
  static void unary(Cpu& c, Insn in) {
    T a = get<T, D>(c, in);
    T r;
    if constexpr (op == UnOp::kNeg) {
      r = sub_flags<T>(c, 0, a, 0);
      c.z_ = r == 0;
    } else if constexpr (op == UnOp::kNot) {
      r = static_cast<T>(~a);
      logic_flags(c, r);
    } else if constexpr (op == UnOp::kExtu) {
      r = static_cast<T>(a & ((u32{1} << (Width<T>::kBits / 2)) - 1));
      logic_flags(c, r);
    } else if constexpr (op == UnOp::kExts) {
      constexpr int half = Width<T>::kBits / 2;
      constexpr u32 low_mask = (u32{1} << half) - 1;
      r = static_cast<T>((a & (u32{1} << (half - 1))) ? (a | ~low_mask) : (a & low_mask));
      logic_flags(c, r);
    } else {
      r = shift<T, op>(c, a);
      nz(c, r);
    }
    put<T, D>(c, in, r);
  }
  template <class T, UnOp op>
  static T shift(Cpu& c, T a) {
    constexpr u32 sign = Width<T>::kSign;
    u32 msb = (a & sign) != 0;
    u32 lsb = a & 1;
    T r;
    c.v_ = 0;
    if constexpr (op == UnOp::kShll || op == UnOp::kShal) {
      r = static_cast<T>(a << 1);
      c.c_ = msb;
      if constexpr (op == UnOp::kShal) c.v_ = ((a ^ r) & sign) != 0;
    } else if constexpr (op == UnOp::kShlr) {
      r = static_cast<T>(a >> 1);
      c.c_ = lsb;
    } else if constexpr (op == UnOp::kShar) {
      r = static_cast<T>((a >> 1) | (a & sign));
      c.c_ = lsb;
    } else if constexpr (op == UnOp::kRotl) {
      r = static_cast<T>(a << 1 | msb);
      c.c_ = msb;
    } else if constexpr (op == UnOp::kRotxl) {
      r = static_cast<T>(a << 1 | c.c_);
      c.c_ = msb;
    } else if constexpr (op == UnOp::kRotr) {
      r = static_cast<T>(a >> 1 | (lsb ? sign : 0));
      c.c_ = lsb;
    } else {
      static_assert(op == UnOp::kRotxr);
      r = static_cast<T>(a >> 1 | (c.c_ ? sign : 0));
      c.c_ = lsb;
    }
    return r;
  }
  // DAA and DAS correct the byte after a BCD addition or subtraction from C, H and its two
  // digits. N, Z and C are set; H and V, which the manual leaves undefined, are left as they are.
  template <Operand D>
  static void daa(Cpu& c, Insn in) {
    u8 a = get<u8, D>(c, in);
    unsigned correction = 0;
    if (c.h_ || (a & 0xF) > 9) correction |= 0x06;
    if (c.c_ || a > 0x99) {
      correction |= 0x60;
      c.c_ = 1;
    }
    u8 r = static_cast<u8>(a + correction);
    nz(c, r);
    put<u8, D>(c, in, r);
  }
  template <Operand D>
  static void das(Cpu& c, Insn in) {
    u8 a = get<u8, D>(c, in);
    unsigned correction = (c.h_ ? 0x06 : 0) | (c.c_ ? 0x60 : 0);
    u8 r = static_cast<u8>(a - correction);
    nz(c, r);
    put<u8, D>(c, in, r);
  }
  // MULXU/MULXS: T is the source width; the product fills the destination (twice as wide).
  // MULXS sets N and Z from the product, MULXU no flags.
  template <class T, bool is_signed, Operand S, Operand D>
  static void mulx(Cpu& c, Insn in) {
    using Wide = std::conditional_t<sizeof(T) == 1, u16, u32>;
    T b = get<T, S>(c, in);
    T a = static_cast<T>(get<Wide, D>(c, in));
    Wide r;
    if constexpr (is_signed) {
      using S_t = std::make_signed_t<T>;
      r = static_cast<Wide>(static_cast<std::int64_t>(static_cast<S_t>(a)) * static_cast<S_t>(b));
      nz(c, r);
    } else {
      r = static_cast<Wide>(std::uint64_t{a} * b);
    }
    internal(c, sizeof(T) == 1 ? 12 : 20);
    put<Wide, D>(c, in, r);
  }
  // DIVXU/DIVXS: a dividend twice the divisor's width; quotient to the low half, remainder to
  // the high half. DIVXU: N = divisor's sign bit; DIVXS: N = the signs differ. Z = the divisor
  // is zero, in which case the register is left unchanged. A quotient that does not fit is
  // truncated to the low half (the chip's result is undefined there).
  template <class T, bool is_signed, Operand S, Operand D>
  static void divx(Cpu& c, Insn in) {
    using Wide = std::conditional_t<sizeof(T) == 1, u16, u32>;
    constexpr int bits = Width<T>::kBits;
    T b = get<T, S>(c, in);
    Wide a = get<Wide, D>(c, in);
    internal(c, sizeof(T) == 1 ? 12 : 20);
    c.z_ = b == 0;
    if constexpr (is_signed) {
      c.n_ = ((a >> (2 * bits - 1)) ^ (b >> (bits - 1))) & 1;
    } else {
      c.n_ = (b >> (bits - 1)) & 1;
    }
    if (b == 0) return;
    std::uint64_t quotient, remainder;
    if constexpr (is_signed) {
      using SW = std::make_signed_t<Wide>;
      using ST = std::make_signed_t<T>;
      std::int64_t sa = static_cast<SW>(a), sb = static_cast<ST>(b);
      quotient = static_cast<std::uint64_t>(sa / sb);
      remainder = static_cast<std::uint64_t>(sa % sb);
    } else {
      quotient = a / b;
      remainder = a % b;
    }
    constexpr std::uint64_t half_mask = (std::uint64_t{1} << bits) - 1;
    put<Wide, D>(c, in,
                 static_cast<Wide>((remainder & half_mask) << bits | (quotient & half_mask)));
  }

  // ---- bit manipulation ----
  template <BitOp op, Operand B, Operand D>
  static void bit(Cpu& c, Insn in) {
    unsigned n;
    if constexpr (B.kind == Opk::kBitNo) {
      n = nib(in, B.nib) & 7;
    } else {
      n = reg<u8>(c, nib(in, B.nib)) & 7;
    }
    u8 v = get<u8, D>(c, in);
    u8 mask = static_cast<u8>(1u << n);
    u8 bit_value = (v & mask) != 0;
    if constexpr (op == BitOp::kTst) c.z_ = !bit_value;
    if constexpr (op == BitOp::kOr) c.c_ |= bit_value;
    if constexpr (op == BitOp::kIor) c.c_ |= !bit_value;
    if constexpr (op == BitOp::kXor) c.c_ ^= bit_value;
    if constexpr (op == BitOp::kIxor) c.c_ ^= !bit_value;
    if constexpr (op == BitOp::kAnd) c.c_ &= bit_value;
    if constexpr (op == BitOp::kIand) c.c_ &= !bit_value;
    if constexpr (op == BitOp::kLd) c.c_ = bit_value;
    if constexpr (op == BitOp::kIld) c.c_ = !bit_value;
    constexpr bool writes = op == BitOp::kSet || op == BitOp::kNot || op == BitOp::kClr ||
                            op == BitOp::kSt || op == BitOp::kIst;
    if constexpr (writes) {
      bool one;
      if constexpr (op == BitOp::kSet) one = true;
      if constexpr (op == BitOp::kClr) one = false;
      if constexpr (op == BitOp::kNot) one = !bit_value;
      if constexpr (op == BitOp::kSt) one = c.c_;
      if constexpr (op == BitOp::kIst) one = !c.c_;
      put<u8, D>(c, in, static_cast<u8>(one ? (v | mask) : (v & ~mask)));
    }
  }

  // ---- branches ----
  template <int cond>
  static bool holds(const Cpu& c) {
    if constexpr (cond == 0) return true;                      // BRA
    if constexpr (cond == 1) return false;                     // BRN
    if constexpr (cond == 2) return !(c.c_ | c.z_);            // BHI
    if constexpr (cond == 3) return c.c_ | c.z_;               // BLS
    if constexpr (cond == 4) return !c.c_;                     // BCC
    if constexpr (cond == 5) return c.c_;                      // BCS
    if constexpr (cond == 6) return !c.z_;                     // BNE
    if constexpr (cond == 7) return c.z_;                      // BEQ
    if constexpr (cond == 8) return !c.v_;                     // BVC
    if constexpr (cond == 9) return c.v_;                      // BVS
    if constexpr (cond == 10) return !c.n_;                    // BPL
    if constexpr (cond == 11) return c.n_;                     // BMI
    if constexpr (cond == 12) return !(c.n_ ^ c.v_);           // BGE
    if constexpr (cond == 13) return c.n_ ^ c.v_;              // BLT
    if constexpr (cond == 14) return !(c.z_ | (c.n_ ^ c.v_));  // BGT
    if constexpr (cond == 15) return c.z_ | (c.n_ ^ c.v_);     // BLE
  }
  template <int cond, Operand D>
  static void bcc(Cpu& c, Insn in) {
    if constexpr (D.kind == Opk::kPcRel8) {
      if (holds<cond>(c)) c.pc_ = (c.pc_ + sext8(byte(in, D.at))) & c.addr_mask_;
      prefetch(c);
    } else {
      if (holds<cond>(c)) c.pc_ = (c.pc_ + sext16(word_at(in, D.at))) & c.addr_mask_;
      internal(c, 2);
    }
  }
  template <Operand D>
  static Addr branch_target(Cpu& c, Insn in) {
    if constexpr (D.kind == Opk::kInd) return c.er_[nib(in, D.nib) & 7] & c.addr_mask_;
    if constexpr (D.kind == Opk::kAbs24) return bytes24_at(in, D.at) & c.addr_mask_;
    if constexpr (D.kind == Opk::kMemInd8) return read_vector(c, byte(in, D.at));
    if constexpr (D.kind == Opk::kPcRel8) return (c.pc_ + sext8(byte(in, D.at))) & c.addr_mask_;
    if constexpr (D.kind == Opk::kPcRel16) {
      return (c.pc_ + sext16(word_at(in, D.at))) & c.addr_mask_;
    }
  }
  // JMP, BSR and JSR. The long forms (@aa:24, d:16) spend 2 internal states where the short
  // ones fetch the word at the destination.
  template <bool call, Operand D>
  static void jump(Cpu& c, Insn in) {
    Addr target = branch_target<D>(c, in);
    if constexpr (call) push_pc(c, c.pc_);
    c.pc_ = target;
    if constexpr (D.kind == Opk::kAbs24 || D.kind == Opk::kPcRel16) {
      internal(c, 2);
    } else {
      prefetch(c);
      if constexpr (!call && D.kind == Opk::kMemInd8) internal(c, 2);
    }
  }
  static void rts(Cpu& c, Insn in);
  static void rte(Cpu& c, Insn in);
  static void trapa(Cpu& c, Insn in);

  // ---- system control ----
  static void nop(Cpu&, Insn) {}
  static void sleep(Cpu& c, Insn in);
  template <CcrOp op, Operand S>
  static void ccr_op(Cpu& c, Insn in) {
    u8 v = get<u8, S>(c, in);
    u8 old = c.ccr();
    if constexpr (op == CcrOp::kAnd) v &= old;
    if constexpr (op == CcrOp::kOr) v |= old;
    if constexpr (op == CcrOp::kXor) v ^= old;
    c.set_ccr(v);
  }
  // LDC from memory reads a word; CCR is its upper (even-address) byte.
  template <Operand S>
  static void ldc_mem(Cpu& c, Insn in) {
    c.set_ccr(static_cast<u8>(get<u16, S>(c, in) >> 8));
  }
  template <Operand D>
  static void stc(Cpu& c, Insn in) {
    u8 v = c.ccr();
    if constexpr (D.kind == Opk::kR8) {
      put<u8, D>(c, in, v);
    } else {
      put<u16, D>(c, in, static_cast<u16>(v << 8 | v));
    }
  }
  // EEPMOV.B / .W: copy R4L / R4 bytes from @ER5+ to @ER6+, counting the counter down to 0.
  // Two byte reads' worth of states go to the set-up before the first byte.
  template <bool word>
  static void eepmov(Cpu& c, Insn) {
    internal(c, 4);
    unsigned count = word ? reg<u16>(c, 4) : reg<u8>(c, 8 + 4);
    while (count != 0) {
      u8 v = load<u8>(c, c.er_[5]);
      store<u8>(c, c.er_[6], v);
      ++c.er_[5];
      ++c.er_[6];
      --count;
      if constexpr (word) {
        set_reg<u16>(c, 4, static_cast<u16>(count));
      } else {
        set_reg<u8>(c, 8 + 4, static_cast<u8>(count));
      }
    }
  }

  // ---- decoding ----
  static void group(Cpu& c, Insn in);
  static void illegal(Cpu& c, Insn in);
  static void illegal_words(Cpu& c, Insn in, int words);
};

}  // namespace h8sim
