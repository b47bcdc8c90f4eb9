#include "sci.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace h8sim {
namespace {

// Runs the clock to `t`, letting due events run at their times.
void advance_to(Clock& clock, States t) {
  while (clock.next_deadline() <= t) {
    if (clock.next_deadline() > clock.now()) clock.advance(clock.next_deadline() - clock.now());
    clock.run_due();
  }
  if (t > clock.now()) clock.advance(t - clock.now());
  clock.run_due();
}

constexpr double kBit19200At20MHz = 20e6 / 19200;  // 1041.67 states per bit
constexpr States kBit18939 = 1056;                 // SMR 0, BRR 32 at 20 MHz

// One step of a register sequence: at time `at`, write a register, read one and compare the
// bits in `mask`, or put a frame on the line (value, line bit time).
struct Step {
  enum Op { kWrite, kRead, kLine } op;
  States at;
  Addr reg;
  std::uint8_t value;        // written, expected (kRead) or sent (kLine)
  std::uint8_t mask = 0xFF;  // kRead: the bits compared
  double line_bit = kBit19200At20MHz;
};

struct Case {
  std::string name;
  SciKind kind;
  std::vector<Step> steps;
  std::vector<LineFrame> sent;  // frames the chip must have put on the line, with their times
};

Step wr(States at, Addr reg, std::uint8_t v) { return {Step::kWrite, at, reg, v}; }
Step rd(States at, Addr reg, std::uint8_t v, std::uint8_t mask = 0xFF) {
  return {Step::kRead, at, reg, v, mask};
}
Step line(States at, std::uint8_t v, double bit = kBit19200At20MHz) {
  return {Step::kLine, at, 0, v, 0, bit};
}

constexpr Addr kSmr = kSmrOffset, kBrr = kBrrOffset, kScr = kScrOffset, kTdr = kTdrOffset,
               kSsr = kSsrOffset, kRdr = kRdrOffset;
constexpr std::uint8_t kFlags = kSsrTdre | kSsrRdrf | kSsrOrer | kSsrFer | kSsrPer | kSsrTend;
constexpr States kFrame = 10 * kBit18939;       // 10560
constexpr States kRxDone = 19 * kBit18939 / 2;  // middle of the stop bit: 10032

// The set-up that the writing programs use: 8N1, φ/1, BRR 32, TE and RE.
std::vector<Step> setup() {
  return {wr(0, kScr, 0), wr(0, kSmr, 0), wr(0, kBrr, 32), wr(0, kScr, 0x30)};
}

std::vector<Case> cases() {
  auto with_setup = [](std::vector<Step> steps) {
    std::vector<Step> all = setup();
    all.insert(all.end(), steps.begin(), steps.end());
    return all;
  };
  return {
      {"SciSendsAfterTdreCleared",
       SciKind::kSci,
       with_setup({rd(100, kSsr, 0x84, kFlags), wr(100, kTdr, 0x41),
                   rd(101, kSsr, 0x84, kFlags),  // a TDR write alone starts nothing
                   wr(200, kSsr, 0x7F),          // clear TDRE: TDR moves to the shift register
                   rd(201, kSsr, 0x80, kFlags), rd(200 + kFrame - 1, kSsr, 0x80, kFlags),
                   rd(200 + kFrame, kSsr, 0x84, kFlags)}),
       {{0x41, 200, 200 + kFrame}}},
      {"SciSecondByteWaitsForShiftRegister",
       SciKind::kSci,
       with_setup({rd(0, kSsr, 0x84, kFlags), wr(0, kTdr, 1), wr(0, kSsr, 0x7F),
                   rd(10, kSsr, 0x80, kFlags), wr(10, kTdr, 2), wr(10, kSsr, 0x7F),
                   rd(20, kSsr, 0x00, kFlags),  // TDR full, shift register busy
                   rd(kFrame, kSsr, 0x80, kFlags), rd(2 * kFrame, kSsr, 0x84, kFlags)}),
       {{1, 0, kFrame}, {2, kFrame, 2 * kFrame}}},
      {"Sci3TdrWriteStartsFrame",
       SciKind::kSci3,
       with_setup(
           {wr(50, kTdr, 0x53), rd(51, kSsr, 0x80, kFlags), rd(50 + kFrame, kSsr, 0x84, kFlags)}),
       {{0x53, 50, 50 + kFrame}}},
      {"TeClearSendsNothing",
       SciKind::kSci3,
       {wr(0, kBrr, 32), wr(0, kScr, 0x10), wr(10, kTdr, 0x11), rd(11, kSsr, 0x84, kFlags),
        rd(kFrame * 2, kSsr, 0x84, kFlags)},
       {}},
      {"ReceiveSetsRdrfMidStopBit",
       SciKind::kSci,
       with_setup({line(1000, 0x5A), rd(1000 + kRxDone - 1, kSsr, 0x84, kFlags),
                   rd(1000 + kRxDone, kSsr, 0xC4, kFlags), rd(1000 + kRxDone, kRdr, 0x5A)}),
       {}},
      {"SciRdrReadLeavesRdrf",
       SciKind::kSci,
       with_setup({line(0, 7), rd(kFrame, kRdr, 7), rd(kFrame, kSsr, 0xC4, kFlags),
                   wr(kFrame, kSsr, 0xBF), rd(kFrame, kSsr, 0x84, kFlags)}),
       {}},
      {"Sci3RdrReadClearsRdrf",
       SciKind::kSci3,
       with_setup({line(0, 7), rd(kFrame, kSsr, 0xC4, kFlags), rd(kFrame, kRdr, 7),
                   rd(kFrame, kSsr, 0x84, kFlags)}),
       {}},
      {"OverrunKeepsFirstByte",
       SciKind::kSci,
       with_setup({line(0, 1), line(10417, 2), rd(2 * kFrame, kSsr, 0xE4, kFlags),
                   rd(2 * kFrame, kRdr, 1)}),
       {}},
      {"ErrorFlagBlocksReception",
       SciKind::kSci,
       with_setup({line(0, 1), line(10417, 2), line(20834, 3),
                   rd(3 * kFrame, kSsr, 0xE4, kFlags),  // RDRF + ORER; byte 3 also lost
                   rd(3 * kFrame, kRdr, 1)}),
       {}},
      {"WrongLineRateIsFramingError",
       SciKind::kSci,
       with_setup({line(0, 0x00, 20e6 / 9600), rd(3 * kFrame, kSsr, 0x94, kFlags)}),
       {}},
      {"RateWithinToleranceReceives",  // 18,939 bit/s against 19,200
       SciKind::kSci,
       with_setup({line(0, 0xA5), rd(kFrame, kSsr, 0xC4, kFlags), rd(kFrame, kRdr, 0xA5)}),
       {}},
      {"ByteStartingWhileReClearIsLost",
       SciKind::kSci,
       {wr(0, kBrr, 32), wr(0, kScr, 0x20), line(100, 9), wr(200, kScr, 0x30),
        rd(2 * kFrame, kSsr, 0x84, kFlags), line(2 * kFrame, 8), rd(4 * kFrame, kSsr, 0xC4, kFlags),
        rd(4 * kFrame, kRdr, 8)},
       {}},
      {"WriteZeroWithoutReadingLeavesFlag",
       SciKind::kSci,
       with_setup({line(0, 7), wr(kFrame, kSsr, 0x00), rd(kFrame + 1, kSsr, 0xC4, kFlags)}),
       {}},
      {"FlagRisingAfterReadSurvivesWrite",
       SciKind::kSci,
       with_setup({rd(10, kSsr, 0x84, kFlags),           // RDRF read as 0
                   line(20, 7), wr(kFrame, kSsr, 0x87),  // writes 0 to RDRF: not read as 1
                   rd(kFrame + 1, kSsr, 0xC4, kFlags)}),
       {}},
  };
}

TEST(SciTest, RegisterSequences) {
  for (const Case& c : cases()) {
    SCOPED_TRACE(c.name);
    Clock clock;
    const Addr base = 0xFFFFB8;
    Sci sci(clock, c.kind, base);
    std::vector<LineFrame> sent;
    sci.set_transmit_sink([&](const LineFrame& f) { sent.push_back(f); });
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
      const Step& s = c.steps[i];
      advance_to(clock, s.at);
      SCOPED_TRACE("step " + std::to_string(i) + " at " + std::to_string(s.at));
      switch (s.op) {
        case Step::kWrite:
          sci.write8(base + s.reg, s.value);
          break;
        case Step::kRead:
          EXPECT_EQ(sci.read8(base + s.reg) & s.mask, s.value);
          break;
        case Step::kLine:
          sci.receive_frame(s.value, s.at, s.line_bit);
          break;
      }
    }
    advance_to(clock, clock.now() + 3 * kFrame);
    ASSERT_EQ(sent.size(), c.sent.size());
    for (std::size_t i = 0; i < sent.size(); ++i) {
      EXPECT_EQ(sent[i].value, c.sent[i].value);
      EXPECT_EQ(sent[i].start, c.sent[i].start);
      EXPECT_EQ(sent[i].end, c.sent[i].end);
    }
  }
}

TEST(SciTest, BitTimeFromClockSelectAndBrr) {
  struct {
    std::uint8_t smr, brr;
    States bit;
  } table[] = {{0, 32, 1056}, {0, 25, 832}, {1, 0, 128}, {3, 255, 32 * 64 * 256}, {0x40, 0, 32}};
  for (const auto& row : table) {
    Clock clock;
    Sci sci(clock, SciKind::kSci, 0);
    sci.write8(kSmrOffset, row.smr);
    sci.write8(kBrrOffset, row.brr);
    EXPECT_EQ(sci.bit_states(), row.bit) << int(row.smr) << "/" << int(row.brr);
  }
}

TEST(SciTest, BootTransmitQueuesFramesBackToBack) {
  Clock clock;
  Sci sci(clock, SciKind::kSci3, 0);
  std::vector<LineFrame> sent;
  sci.set_transmit_sink([&](const LineFrame& f) { sent.push_back(f); });
  sci.write8(kBrrOffset, 25);
  sci.write8(kScrOffset, 0x30);
  for (std::uint8_t v : {1, 2, 3}) sci.boot_transmit(v);
  advance_to(clock, 100000);
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[2].start, 2 * 8320u);
  EXPECT_EQ(sent[2].end, 3 * 8320u);
  EXPECT_TRUE(sci.idle());
}

}  // namespace
}  // namespace h8sim
