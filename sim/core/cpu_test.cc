// Instruction-level checks of what compiled C rarely reaches: condition codes at their edges,
// divide and multiply corners, EEPMOV, exception frames, and the state counts.
#include "cpu.h"

#include <gtest/gtest.h>

#include <vector>

#include "testing/machine.h"

namespace h8sim {
namespace {

using testing::Machine;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kSleep[] = {0x01, 0x80};

// Places `code` followed by SLEEP at the start of RAM, runs it, and returns the states used
// (SLEEP's own 2 states excluded).
States run_code(Machine& m, Bytes code, Addr at = 0) {
  if (at == 0) at = m.chip.ram_base;
  code.insert(code.end(), std::begin(kSleep), std::end(kSleep));
  m.load(at, code);
  m.cpu.set_pc(at);
  States start = m.clock.now();
  StopResult r = m.run();
  EXPECT_EQ(r.reason, StopReason::kSleep) << r.message;
  return m.clock.now() - start - 2;
}

// ---- condition codes ----

struct FlagCase {
  const char* name;
  Bytes code;  // one instruction on ER0/ER1
  std::uint32_t er0, er1;
  std::uint8_t ccr_in;
  std::uint32_t want_er0, want_er1;
  std::uint8_t want_ccr;  // compared on the bits of `mask`
  std::uint8_t mask;
};

constexpr std::uint8_t H = kCcrH, N = kCcrN, Z = kCcrZ, V = kCcrV, C = kCcrC;
constexpr std::uint8_t kAll = H | N | Z | V | C;
constexpr std::uint8_t kNzc = N | Z | C;

class FlagTest : public ::testing::TestWithParam<FlagCase> {};

TEST_P(FlagTest, ResultAndConditionCodes) {
  const FlagCase& t = GetParam();
  Machine m(ChipModel::k3068f);
  m.cpu.set_er(0, t.er0);
  m.cpu.set_er(1, t.er1);
  m.cpu.set_ccr(t.ccr_in);
  run_code(m, t.code);
  EXPECT_EQ(m.cpu.er(0), t.want_er0);
  EXPECT_EQ(m.cpu.er(1), t.want_er1);
  EXPECT_EQ(m.cpu.ccr() & t.mask, t.want_ccr & t.mask)
      << "ccr " << std::hex << int{m.cpu.ccr()} << " want " << int{t.want_ccr};
}

// Encodings: add.b r0h,r0l 08 08; add.w r1,r0 09 10; add.l er1,er0 0A 90; addx r0h,r0l 0E 08;
// subx r0h,r0l 1E 08; daa r0l 0F 08; das r0l 1F 08; neg.b r0l 17 88; shal.b r0l 10 88;
// shar.b r0l 11 88; shlr.b r0l 11 08; rotxl.b r0l 12 08; rotxr.b r0l 13 08; rotl.w r0 12 90;
// rotr.l er0 13 B0; inc.b r0l 0A 08; dec.w #2,r0 1B D0; exts.w r0 17 D0; extu.l er0 17 70;
// cmp.l er1,er0 1F 90; sub.w r1,r0 19 10.
INSTANTIATE_TEST_SUITE_P(
    Edges, FlagTest,
    ::testing::Values(
        FlagCase{"add_b_half_carry", {0x08, 0x08}, 0x010F, 0, 0, 0x0110, 0, H, kAll},
        FlagCase{"add_b_overflow", {0x08, 0x08}, 0x017F, 0, 0, 0x0180, 0, H | N | V, kAll},
        FlagCase{"add_b_carry_zero", {0x08, 0x08}, 0x01FF, 0, 0, 0x0100, 0, H | Z | C, kAll},
        FlagCase{"add_w_half_carry_bit11", {0x09, 0x10}, 0x0FFF, 1, 0, 0x1000, 1, H, kAll},
        FlagCase{"add_w_no_h_from_bit3", {0x09, 0x10}, 0x000F, 1, 0, 0x0010, 1, 0, kAll},
        FlagCase{"add_l_half_carry_bit27", {0x0A, 0x90}, 0x0FFFFFFF, 1, 0, 0x10000000, 1, H, kAll},
        FlagCase{"add_l_carry_out", {0x0A, 0x90}, 0xFFFFFFFF, 1, 0, 0, 1, H | Z | C, kAll},
        FlagCase{"sub_w_borrow", {0x19, 0x10}, 0x0000, 1, 0, 0xFFFF, 1, H | N | C, kAll},
        FlagCase{
            "cmp_l_signed_overflow", {0x1F, 0x90}, 0x80000000, 1, 0, 0x80000000, 1, H | V, kAll},
        FlagCase{"addx_carry_in_wraps", {0x0E, 0x08}, 0xFF00, 0, Z | C, 0xFF00, 0, H | Z | C, kAll},
        FlagCase{"addx_zero_keeps_z_set", {0x0E, 0x08}, 0x0000, 0, Z, 0x0000, 0, Z, kAll},
        FlagCase{"addx_zero_keeps_z_clear", {0x0E, 0x08}, 0x0000, 0, 0, 0x0000, 0, 0, kAll},
        FlagCase{"addx_nonzero_clears_z", {0x0E, 0x08}, 0x0001, 0, Z, 0x0001, 0, 0, kAll},
        FlagCase{"subx_borrow_in", {0x1E, 0x08}, 0x0000, 0, Z | C, 0x00FF, 0, H | N | C, kAll},
        FlagCase{"subx_zero_keeps_z", {0x1E, 0x08}, 0x0101, 0, Z, 0x0100, 0, Z, kAll},
        FlagCase{"daa_low_digit", {0x0F, 0x08}, 0x000A, 0, 0, 0x0010, 0, 0, kNzc},
        FlagCase{"daa_both_digits_carry", {0x0F, 0x08}, 0x009A, 0, 0, 0x0000, 0, Z | C, kNzc},
        FlagCase{"daa_half_carry", {0x0F, 0x08}, 0x0010, 0, H, 0x0016, 0, 0, kNzc},
        FlagCase{"daa_carry_in", {0x0F, 0x08}, 0x0020, 0, C, 0x0080, 0, N | C, kNzc},
        FlagCase{"das_half_borrow", {0x1F, 0x08}, 0x000F, 0, H, 0x0009, 0, 0, kNzc},
        FlagCase{"das_borrow", {0x1F, 0x08}, 0x00F0, 0, C, 0x0090, 0, N | C, kNzc},
        FlagCase{"das_both", {0x1F, 0x08}, 0x00FF, 0, H | C, 0x0099, 0, N | C, kNzc},
        FlagCase{"neg_b_most_negative", {0x17, 0x88}, 0x0080, 0, 0, 0x0080, 0, N | V | C, kAll},
        FlagCase{"neg_b_zero", {0x17, 0x88}, 0x0000, 0, C, 0x0000, 0, Z, kAll},
        FlagCase{"neg_b_one", {0x17, 0x88}, 0x0001, 0, 0, 0x00FF, 0, H | N | C, kAll},
        FlagCase{"shal_sign_change", {0x10, 0x88}, 0x0040, 0, 0, 0x0080, 0, N | V, kAll},
        FlagCase{"shal_out_to_zero", {0x10, 0x88}, 0x0080, 0, 0, 0x0000, 0, Z | V | C, kAll},
        FlagCase{"shar_keeps_sign", {0x11, 0x88}, 0x0081, 0, V, 0x00C0, 0, N | C, kAll},
        FlagCase{"shlr_to_zero", {0x11, 0x08}, 0x0001, 0, N, 0x0000, 0, Z | C, kAll},
        FlagCase{"rotxl_carry_out", {0x12, 0x08}, 0x0080, 0, 0, 0x0000, 0, Z | C, kAll},
        FlagCase{"rotxr_carry_in", {0x13, 0x08}, 0x0001, 0, C, 0x0080, 0, N | C, kAll},
        FlagCase{"rotl_w", {0x12, 0x90}, 0x8000, 0, 0, 0x0001, 0, C, kAll},
        FlagCase{"rotr_l", {0x13, 0xB0}, 0x00000001, 0, 0, 0x80000000, 0, N | C, kAll},
        FlagCase{"inc_b_overflow_keeps_c", {0x0A, 0x08}, 0x007F, 0, C, 0x0080, 0, N | V | C, kAll},
        FlagCase{"dec_w_2_overflow", {0x1B, 0xD0}, 0x8001, 0, 0, 0x7FFF, 0, V, kAll},
        FlagCase{"exts_w", {0x17, 0xD0}, 0x12340080, 0, V, 0x1234FF80, 0, N, kAll},
        FlagCase{"extu_l", {0x17, 0x70}, 0xFFFF8000, 0, N, 0x00008000, 0, 0, kAll}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

// ---- multiply and divide ----

// divxu.b r0h,r1 51 01; divxu.w r0,er1 53 01; divxs.b r0h,r1 01 D0 51 01;
// divxs.w r0,er1 01 D0 53 01; mulxs.b r0h,r1 01 C0 50 01; mulxu.w r0,er1 52 01;
// mulxs.w r0,er1 01 C0 52 01.
INSTANTIATE_TEST_SUITE_P(
    MulDiv, FlagTest,
    ::testing::Values(
        FlagCase{"divxu_b", {0x51, 0x01}, 0x1000, 0x0107, 0, 0x1000, 0x0710, 0, N | Z},
        FlagCase{"divxu_b_negative_divisor_n",
                 {0x51, 0x01},
                 0x8000,
                 0x0100,
                 0,
                 0x8000,
                 0x0002,
                 N,
                 N | Z},
        FlagCase{"divxu_b_by_zero", {0x51, 0x01}, 0x0000, 0x1234, 0, 0x0000, 0x1234, Z, N | Z},
        FlagCase{"divxu_b_overflow_truncates",
                 {0x51, 0x01},
                 0x0100,
                 0xFFFF,
                 0,
                 0x0100,
                 0x00FF,
                 0,
                 N | Z},
        FlagCase{"divxu_w", {0x53, 0x01}, 0x0003, 100000, 0, 0x0003, 0x00018235, 0, N | Z},
        FlagCase{"divxs_b_negative_dividend",
                 {0x01, 0xD0, 0x51, 0x01},
                 0x0200,
                 0xFFF9,
                 0,
                 0x0200,
                 0xFFFD,
                 N,
                 N | Z},
        FlagCase{"divxs_b_both_negative",
                 {0x01, 0xD0, 0x51, 0x01},
                 0xFE00,
                 0xFFF9,
                 0,
                 0xFE00,
                 0xFF03,
                 0,
                 N | Z},
        FlagCase{"divxs_w_negative_divisor",
                 {0x01, 0xD0, 0x53, 0x01},
                 0xFFFD,
                 100000,
                 0,
                 0xFFFD,
                 0x00017DCB,
                 N,
                 N | Z},
        FlagCase{"divxs_w_overflow_no_trap",
                 {0x01, 0xD0, 0x53, 0x01},
                 0xFFFF,
                 0x80000000,
                 0,
                 0xFFFF,
                 0x00000000,
                 0,
                 N | Z},
        FlagCase{"mulxs_b", {0x01, 0xC0, 0x50, 0x01}, 0xFE00, 0x0003, 0, 0xFE00, 0xFFFA, N, N | Z},
        FlagCase{"mulxu_w", {0x52, 0x01}, 0xFFFF, 0xFFFF, N | Z, 0xFFFF, 0xFFFE0001, N | Z, N | Z},
        FlagCase{"mulxs_w_zero", {0x01, 0xC0, 0x52, 0x01}, 0x8000, 0x0000, N, 0x8000, 0, Z, N | Z}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

// ---- state counts ----

struct TimingCase {
  const char* name;
  ChipModel chip;
  Bytes code;  // runs `passes` times around its loop, set-up before
  States setup_states;
  States passes;
  States states_per_pass;
};

class LoopTimingTest : public ::testing::TestWithParam<TimingCase> {};

TEST_P(LoopTimingTest, StatesPerPass) {
  const TimingCase& t = GetParam();
  for (bool in_flash : {false, true}) {
    Machine m(t.chip);
    Addr at = in_flash ? 0x400 : m.chip.ram_base;
    EXPECT_EQ(run_code(m, t.code, at), t.setup_states + t.passes * t.states_per_pass)
        << (in_flash ? "in flash" : "in RAM");
  }
}

// mov.w #0,r0 / mov.w #100,r1:   79 00 00 00 / 79 01 00 64  (4 states each)
// inc.w #1,r0; cmp.w #100,r0; bcs:  0B 50  79 20 00 64  45 F8
// inc.w #1,r0; cmp.w r1,r0; bcs:    0B 50  1D 10  45 FA
// mov.w r0,r2; inc.w #1,r2; mov.w r2,r0; cmp.w #100,r0; bcs:  0D 02 0B 52 0D 20 79 20 00 64 45 F4
const Bytes kLoop10 = {0x79, 0x00, 0x00, 0x00, 0x0B, 0x50, 0x79, 0x20, 0x00, 0x64, 0x45, 0xF8};
const Bytes kLoop8 = {0x79, 0x00, 0x00, 0x00, 0x79, 0x01, 0x00,
                      0x64, 0x0B, 0x50, 0x1D, 0x10, 0x45, 0xFA};
const Bytes kLoop14 = {0x79, 0x00, 0x00, 0x00, 0x0D, 0x02, 0x0B, 0x52,
                       0x0D, 0x20, 0x79, 0x20, 0x00, 0x64, 0x45, 0xF4};

INSTANTIATE_TEST_SUITE_P(
    WaitLoops, LoopTimingTest,
    ::testing::Values(
        TimingCase{"inc_cmpimm_bcs_3068f", ChipModel::k3068f, kLoop10, 4, 100, 10},
        TimingCase{"inc_cmpreg_bcs_3068f", ChipModel::k3068f, kLoop8, 8, 100, 8},
        TimingCase{"mov_inc_mov_cmp_bcs_3068f", ChipModel::k3068f, kLoop14, 4, 100, 14},
        TimingCase{"inc_cmpimm_bcs_3664f", ChipModel::k3664f, kLoop10, 4, 100, 10},
        TimingCase{"inc_cmpreg_bcs_3664f", ChipModel::k3664f, kLoop8, 8, 100, 8},
        TimingCase{"mov_inc_mov_cmp_bcs_3664f", ChipModel::k3664f, kLoop14, 4, 100, 14}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

struct FormTimingCase {
  const char* name;
  Bytes code;
  States advanced_states;
  States normal_states;
};

class FormTimingTest : public ::testing::TestWithParam<FormTimingCase> {};

// One instruction from RAM, with ER1 pointing into RAM, ER7 at a stack whose top word(s)
// return to a SLEEP, vector 8..11 (TRAPA) and the @@aa:8 pointer at 0x20 pointing at a SLEEP.
TEST_P(FormTimingTest, StatesOfOneInstruction) {
  const FormTimingCase& t = GetParam();
  for (ChipModel chip : {ChipModel::k3068f, ChipModel::k3664f}) {
    Machine m(chip);
    bool advanced = m.chip.mode == CpuMode::kAdvanced;
    Addr code = m.chip.ram_base;
    Addr sleeper = code + 0x100;  // every branch in the cases lands here
    m.load(sleeper, {kSleep[0], kSleep[1]});
    Addr stack = code + 0x200;
    m.cpu.set_er(7, stack);
    m.cpu.set_er(1, code + 0x300);
    Bytes ret = advanced ? Bytes{0, static_cast<std::uint8_t>(sleeper >> 16),
                                 static_cast<std::uint8_t>(sleeper >> 8),
                                 static_cast<std::uint8_t>(sleeper)}
                         : Bytes{static_cast<std::uint8_t>(sleeper >> 8),
                                 static_cast<std::uint8_t>(sleeper), 0, 0};
    m.load(stack, ret);
    for (Addr vector : {Addr{0x20}, Addr{advanced ? 0x24u : 0x12u}}) m.load(vector, ret);
    States want = advanced ? t.advanced_states : t.normal_states;
    Bytes code_bytes = t.code;
    if (code_bytes[0] == 0x5E) {  // jsr @aa:24 / jmp: aim at the sleeper
      code_bytes[1] = static_cast<std::uint8_t>(sleeper >> 16 & (advanced ? 0xFF : 0));
      code_bytes[2] = static_cast<std::uint8_t>(sleeper >> 8);
      code_bytes[3] = static_cast<std::uint8_t>(sleeper);
    }
    EXPECT_EQ(run_code(m, code_bytes, code), want) << m.chip.name;
  }
}

// Each form's total from the manual's I/J/K/L/M/N counts at 2 states per on-chip access.
INSTANTIATE_TEST_SUITE_P(
    Forms, FormTimingTest,
    ::testing::Values(
        FormTimingCase{"mov_b_ind", {0x68, 0x18}, 4, 4},                   // mov.b @er1,r0l
        FormTimingCase{"mov_w_postinc", {0x6D, 0x10}, 6, 6},               // mov.w @er1+,r0
        FormTimingCase{"mov_l_ind", {0x01, 0x00, 0x69, 0x10}, 8, 8},       // mov.l @er1,er0
        FormTimingCase{"mov_l_predec", {0x01, 0x00, 0x6D, 0x90}, 10, 10},  // mov.l er0,@-er1
        FormTimingCase{"mov_l_disp24",
                       {0x01, 0x00, 0x78, 0x10, 0x6B, 0x20, 0, 0, 0, 0},
                       14,
                       14},                               // mov.l @(0:24,er1),er0
        FormTimingCase{"mulxu_b", {0x50, 0x01}, 14, 14},  // mulxu.b r0h,r1
        FormTimingCase{"divxu_w", {0x53, 0x01}, 22, 22},  // divxu.w r0,er1
        FormTimingCase{"divxs_b", {0x01, 0xD0, 0x51, 0x01}, 16, 16},
        FormTimingCase{"btst_ind", {0x7C, 0x10, 0x73, 0x00}, 6, 6},  // btst #0,@er1
        FormTimingCase{"bset_ind", {0x7D, 0x10, 0x70, 0x00}, 8, 8},  // bset #0,@er1
        FormTimingCase{"bra_d16", {0x58, 0x00, 0x00, 0x00}, 6, 6},
        FormTimingCase{"jsr_abs24", {0x5E, 0, 0, 0}, 10, 8},
        FormTimingCase{"jsr_memind", {0x5F, 0x20}, 12, 8},  // jsr @@0x20
        FormTimingCase{"jmp_memind", {0x5B, 0x20}, 10, 8},  // jmp @@0x20
        FormTimingCase{"rts", {0x54, 0x70}, 10, 8}, FormTimingCase{"trapa_1", {0x57, 0x10}, 16, 14},
        FormTimingCase{"ldc_postinc", {0x01, 0x40, 0x6D, 0x10}, 8, 8}),  // ldc @er1+,ccr
    [](const auto& param_info) { return std::string(param_info.param.name); });

// ---- exceptions ----

struct FrameCase {
  ChipModel chip;
  Bytes frame;  // the four bytes TRAPA #1 stacks, from SP up
};

class TrapFrameTest : public ::testing::TestWithParam<FrameCase> {};

// TRAPA #1 at RAM+0x10 with CCR 0x0B (N, V, C) stacks the frame of the mode, sets I and jumps
// through vector 9; RTE there restores CCR and returns after the TRAPA.
TEST_P(TrapFrameTest, StacksFrameAndReturns) {
  Machine m(GetParam().chip);
  bool advanced = m.chip.mode == CpuMode::kAdvanced;
  Addr base = m.chip.ram_base;
  Addr handler = base + 0x80;
  Addr vector = advanced ? 9 * 4 : 9 * 2;
  if (advanced) {
    m.load(vector, {0, static_cast<std::uint8_t>(handler >> 16),
                    static_cast<std::uint8_t>(handler >> 8), static_cast<std::uint8_t>(handler)});
  } else {
    m.load(vector, {static_cast<std::uint8_t>(handler >> 8), static_cast<std::uint8_t>(handler)});
  }
  // handler: stc ccr,r0l (02 08); rte (56 70).  main: trapa #1 (57 10); sleep.
  m.load(handler, {0x02, 0x08, 0x56, 0x70});
  Addr stack = base + 0x400;
  m.cpu.set_er(7, stack);
  m.cpu.set_ccr(0x0B);
  run_code(m, {0x57, 0x10}, base + 0x10);
  Bytes frame;
  for (Addr a = stack - 4; a < stack; ++a) frame.push_back(m.bus.peek8(a));
  EXPECT_EQ(frame, GetParam().frame);
  EXPECT_EQ(m.cpu.er(0) & 0xFF, 0x8Bu) << "I set inside the handler";
  EXPECT_EQ(m.cpu.ccr(), 0x0B) << "RTE restores CCR";
  EXPECT_EQ(m.cpu.er(7), stack);
  EXPECT_EQ(m.cpu.pc(), base + 0x14) << "after the SLEEP that follows the TRAPA";
}

INSTANTIATE_TEST_SUITE_P(
    BothModes, TrapFrameTest,
    ::testing::Values(FrameCase{ChipModel::k3068f, {0x0B, 0xFF, 0xBF, 0x32}},    // CCR, PC 24 bits
                      FrameCase{ChipModel::k3664f, {0x0B, 0x0B, 0xF7, 0x92}}));  // CCR twice, PC

// ---- block move ----

TEST(EepmovTest, CopiesCountBytesAndCountsDown) {
  for (bool word : {false, true}) {
    Machine m(ChipModel::k3068f);
    Addr src = m.chip.ram_base + 0x200, dst = m.chip.ram_base + 0x300;
    m.load(src, {1, 2, 3, 4});
    m.cpu.set_er(5, src);
    m.cpu.set_er(6, dst);
    m.cpu.set_er(4, 0x0003);  // R4 = 3, R4L = 3
    Bytes code = word ? Bytes{0x7B, 0xD4, 0x59, 0x8F} : Bytes{0x7B, 0x5C, 0x59, 0x8F};
    EXPECT_EQ(run_code(m, code), 8u + 4 * 3);
    EXPECT_EQ(
        (Bytes{m.bus.peek8(dst), m.bus.peek8(dst + 1), m.bus.peek8(dst + 2), m.bus.peek8(dst + 3)}),
        (Bytes{1, 2, 3, 0}));
    EXPECT_EQ(m.cpu.er(4), 0u);
    EXPECT_EQ(m.cpu.er(5), src + 3);
    EXPECT_EQ(m.cpu.er(6), dst + 3);
  }
}

TEST(EepmovTest, ZeroCountCopiesNothing) {
  Machine m(ChipModel::k3068f);
  Addr dst = m.chip.ram_base + 0x300;
  m.cpu.set_er(5, m.chip.ram_base + 0x200);
  m.cpu.set_er(6, dst);
  m.cpu.set_er(4, 0xFF00);  // R4L = 0: EEPMOV.B copies nothing even though R4H is not 0
  m.bus.poke8(m.chip.ram_base + 0x200, 0x55);
  run_code(m, {0x7B, 0x5C, 0x59, 0x8F});
  EXPECT_EQ(m.bus.peek8(dst), 0);
  EXPECT_EQ(m.cpu.er(6), dst);
}

// ---- stops ----

struct StopCase {
  const char* name;
  Bytes code;
  StopReason reason;
  std::string message;
};

class StopTest : public ::testing::TestWithParam<StopCase> {};

TEST_P(StopTest, StopsWithPcAndOpcode) {
  const StopCase& t = GetParam();
  Machine m(ChipModel::k3067f);
  Addr at = m.chip.ram_base + 0x20;  // 0xFFEF40
  m.load(at, t.code);
  m.cpu.set_pc(at);
  m.cpu.set_er(1, 0x400000);  // nothing there on the H8/3067F
  StopResult r = m.run();
  EXPECT_EQ(r.reason, t.reason);
  EXPECT_EQ(r.message, t.message);
  EXPECT_EQ(r.pc, at);
  EXPECT_EQ(m.cpu.pc(), at);
}

INSTANTIATE_TEST_SUITE_P(
    Causes, StopTest,
    ::testing::Values(
        StopCase{"h8s_exr",
                 {0x01, 0x41, 0x07, 0x00},
                 StopReason::kIllegalInstruction,
                 "illegal instruction at pc 0xffef40 (opcode 01 41)"},
        StopCase{"h8s_shift_by_two",
                 {0x10, 0x40},
                 StopReason::kIllegalInstruction,
                 "illegal instruction at pc 0xffef40 (opcode 10 40)"},
        StopCase{"mov_l_prefix_bad_tail",
                 {0x01, 0x00, 0x79, 0x00},
                 StopReason::kIllegalInstruction,
                 "illegal instruction at pc 0xffef40 (opcode 01 00 79 00)"},
        StopCase{
            "movfpe",
            {0x6A, 0x49, 0x12, 0x34},
            StopReason::kUnsupported,
            "unsupported instruction movfpe @0x1234:16,r1l at pc 0xffef40 (opcode 6a 49 12 34)"},
        StopCase{"read_nothing",
                 {0x68, 0x18},
                 StopReason::kUnmappedAccess,
                 "read of unmapped address 0x400000 at pc 0xffef40 (opcode 68 18)"},
        StopCase{"write_nothing",
                 {0x68, 0x98},
                 StopReason::kUnmappedAccess,
                 "write to unmapped address 0x400000 at pc 0xffef40 (opcode 68 98)"}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(RunTest, StateBudgetStopsARunawayLoop) {
  Machine m(ChipModel::k3664f);
  m.load(m.chip.ram_base, {0x40, 0xFE});  // bra .
  m.cpu.set_pc(m.chip.ram_base);
  m.cpu.set_state_budget(1000);
  StopResult r = m.cpu.run();
  EXPECT_EQ(r.reason, StopReason::kStateBudget);
  EXPECT_EQ(r.message, "state budget of 1000 states exceeded at pc 0xf780");
  EXPECT_GT(m.clock.now(), 1000u);
  EXPECT_LE(m.clock.now(), 1004u);
}

TEST(RunTest, EventsRunAtTheirDeadlineAndResetTakesEffectBetweenInstructions) {
  Machine m(ChipModel::k3068f);
  Addr loop = m.chip.ram_base;
  m.load(loop, {0x40, 0xFE});           // bra .
  m.load(0x100, {0x01, 0x80});          // the reset vector's target: sleep
  m.load(0, {0x00, 0x00, 0x01, 0x00});  // vector 0 -> 0x000100
  m.cpu.set_pc(loop);
  States fired_at = 0;
  m.clock.schedule(1001, [&] {
    fired_at = m.clock.now();
    m.cpu.request_reset();
  });
  StopResult r = m.run();
  EXPECT_EQ(r.reason, StopReason::kSleep) << r.message;
  EXPECT_GE(fired_at, 1001u);
  EXPECT_LT(fired_at, 1005u) << "the event runs after the instruction that reaches its time";
  EXPECT_EQ(r.pc, 0x102u);
  EXPECT_TRUE(m.cpu.ccr() & kCcrI);
}

TEST(RunTest, StopRequestedByAModuleEndsTheRun) {
  Machine m(ChipModel::k3068f);
  m.load(m.chip.ram_base, {0x40, 0xFE});
  m.cpu.set_pc(m.chip.ram_base);
  m.clock.schedule(50, [&] { m.clock.request_stop("watchdog says stop"); });
  StopResult r = m.run();
  EXPECT_EQ(r.reason, StopReason::kStopRequested);
  EXPECT_EQ(r.message, "watchdog says stop at pc 0xffbf20");
}

struct ReturnRecorder : ExecutionObserver {
  std::vector<Addr> returns;
  void on_subroutine_return(Addr pc) override { returns.push_back(pc); }
};

TEST(RunTest, ObserverSeesEveryRts) {
  Machine m(ChipModel::k3664f);
  Addr base = m.chip.ram_base;
  // bsr sub (55 02); sleep; sub: rts (54 70)
  m.load(base, {0x55, 0x02, 0x01, 0x80, 0x54, 0x70});
  m.cpu.set_pc(base);
  m.cpu.set_er(7, 0xFF80);
  ReturnRecorder recorder;
  m.cpu.set_observer(&recorder);
  EXPECT_EQ(m.run().reason, StopReason::kSleep);
  EXPECT_EQ(recorder.returns, std::vector<Addr>{base + 4});
}

// ---- code that changes ----

// The CPU keeps what it decoded at each address; code that a program rewrites (or a loader
// replaces) must run as it now reads, down to the last opcode word that tells forms apart.
struct RewriteCase {
  const char* name;
  Bytes target;                 // the instruction that gets rewritten
  Addr patched;                 // offset in it of the opcode word the program rewrites
  std::uint16_t warm, rewrite;  // that word in the first run and in the second
  std::uint32_t want_er0;
  std::uint8_t want_ccr;
};

class RunRewrittenCodeTest : public ::testing::TestWithParam<RewriteCase> {};

TEST_P(RunRewrittenCodeTest, RunsTheInstructionAsItNowReads) {
  const RewriteCase& t = GetParam();
  Machine m(ChipModel::k3068f);
  Addr base = m.chip.ram_base;
  Addr word = base + 6 + t.patched;
  // mov.w r1,@word:24 (6B A1 00 aa aa aa), then the target, then sleep.
  Bytes code = {0x6B,
                0xA1,
                0x00,
                static_cast<std::uint8_t>(word >> 16),
                static_cast<std::uint8_t>(word >> 8),
                static_cast<std::uint8_t>(word)};
  code.insert(code.end(), t.target.begin(), t.target.end());
  code.insert(code.end(), std::begin(kSleep), std::end(kSleep));
  m.load(base, code);
  for (std::uint16_t value : {t.warm, t.rewrite}) {
    m.load(base + 0x100, {0x8F, 0x00});  // the operand of the memory forms
    m.cpu.set_er(0, 5);
    m.cpu.set_er(1, value);
    m.cpu.set_er(2, base);
    m.cpu.set_ccr(kCcrI);
    m.cpu.set_pc(base);
    StopResult r = m.run();
    ASSERT_EQ(r.reason, StopReason::kSleep) << r.message;
  }
  EXPECT_EQ(m.cpu.er(0), t.want_er0);
  EXPECT_EQ(m.cpu.ccr(), t.want_ccr);
}

// inc.b r0l 0A 08 -> dec.b r0l 1A 08; ldc @(0x100:24,er2),ccr 01 40 78 20 6B 20 00 00 01 00 ->
// stc ccr,@(0x100:24,er2): the same but 6B A0 in the third word.
INSTANTIATE_TEST_SUITE_P(
    Forms, RunRewrittenCodeTest,
    ::testing::Values(RewriteCase{"first_word", {0x0A, 0x08}, 0, 0x0A08, 0x1A08, 4, kCcrI},
                      RewriteCase{"third_word",
                                  {0x01, 0x40, 0x78, 0x20, 0x6B, 0x20, 0x00, 0x00, 0x01, 0x00},
                                  4,
                                  0x6B20,
                                  0x6BA0,
                                  5,
                                  kCcrI}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(ResetTest, LoadsPcFromVectorOfTheMode) {
  Machine adv(ChipModel::k3067f);
  adv.load(0, {0xAA, 0x01, 0x23, 0x44});  // top byte ignored
  adv.cpu.reset();
  EXPECT_EQ(adv.cpu.pc(), 0x012344u);
  Machine nrm(ChipModel::k3664f);
  nrm.load(0, {0x12, 0x34});
  nrm.cpu.reset();
  EXPECT_EQ(nrm.cpu.pc(), 0x1234u);
}

}  // namespace
}  // namespace h8sim
