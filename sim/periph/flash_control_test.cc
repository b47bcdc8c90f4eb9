#include "flash_control.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace h8sim {
namespace {

// One step of a flash-control sequence at simulated time `at`.
struct Step {
  enum Op { kCtl, kWrite, kRead, kRts } op;
  States at;
  std::uint8_t value = 0;  // kCtl: FLMCR1; kWrite: byte; kRead: expected byte
  Addr offset = 0;
};

Step ctl(States at, std::uint8_t flmcr1) { return {Step::kCtl, at, flmcr1}; }
Step wr(States at, Addr off, std::uint8_t v) { return {Step::kWrite, at, v, off}; }
Step rd(States at, Addr off, std::uint8_t expect) { return {Step::kRead, at, expect, off}; }
Step rts(States at) { return {Step::kRts, at}; }

constexpr std::uint8_t kSwe = kFlmcrSwe, kPsu = kFlmcrSwe | kFlmcrPsu,
                       kP = kFlmcrSwe | kFlmcrPsu | kFlmcrP, kPv = kFlmcrSwe | kFlmcrPv;

// One programming pulse of `width` states starting at `t` (PSU before, PSU cleared after).
std::vector<Step> pulse(States t, States width) {
  return {ctl(t, kPsu), ctl(t + 1000, kP), ctl(t + 1000 + width, kPsu),
          ctl(t + 1200 + width, kSwe)};
}

// Program-verify of one byte at time t: PV, dummy write, read, PV off.
std::vector<Step> verify(States t, Addr off, std::uint8_t expect) {
  return {ctl(t, kPv), wr(t + 80, off, 0xFF), rd(t + 136, off, expect), ctl(t + 200, kSwe)};
}

struct Case {
  std::string name;
  const PeriphFacts* facts;
  unsigned slow_cells;
  std::vector<std::vector<Step>> steps;  // concatenated in order
  std::vector<States> pulse_widths;
  std::vector<std::string> misuses;  // substrings, one per expected misuse record, in order
};

std::vector<Case> cases() {
  const PeriphFacts* f67 = &kFacts3067f;
  const PeriphFacts* f64 = &kFacts3664f;
  return {
      {"OnePulseProgramsAndVerifies3067",
       f67,
       1,
       {{ctl(0, kSwe), wr(200, 0x100, 0x5A)},
        pulse(1000, 2400),
        verify(5000, 0x100, 0x5A),
        {ctl(6000, 0)}},
       {2400},
       {}},
      {"SlowCellsNeedFivePulses3067",
       f67,
       5,
       {{ctl(0, kSwe), wr(200, 0x10, 0x00)},
        pulse(1000, 2400),
        verify(5000, 0x10, 0xFF),
        {wr(9000, 0x10, 0x00)},
        pulse(10000, 2400),
        pulse(20000, 2400),
        pulse(30000, 2400),
        verify(35000, 0x10, 0xFF),
        {wr(39000, 0x10, 0x00)},
        pulse(40000, 8000),
        verify(50000, 0x10, 0x00)},
       {2400, 2400, 2400, 2400, 8000},
       {}},
      {"SlowCellsNeedSevenAttempts3664",
       f64,
       7,
       {{ctl(0, kSwe), wr(100, 0x80, 0x00)},
        pulse(1000, 240),
        pulse(3000, 240),
        pulse(5000, 240),
        pulse(7000, 240),
        pulse(9000, 240),
        pulse(11000, 240),
        verify(13000, 0x80, 0xFF),
        {wr(14000, 0x80, 0x00)},
        pulse(15000, 1600),
        verify(20000, 0x80, 0x00)},
       {240, 240, 240, 240, 240, 240, 1600},
       {}},
      {"PWithoutPsuIsFlaggedAndProgramsNothing",
       f67,
       1,
       {{ctl(0, kSwe), wr(100, 0, 0x00), ctl(1000, kSwe | kFlmcrP), ctl(4000, kSwe)},
        verify(5000, 0, 0xFF)},
       {},
       {"P set without PSU"}},
      {"ModeBitsNeedSwe", f67, 1, {{ctl(0, kFlmcrPsu)}}, {}, {"while SWE is clear"}},
      {"PulseLongerThanProcedureAllows3067",
       f67,
       1,
       {{ctl(0, kSwe), wr(100, 0, 0xFE)}, pulse(1000, 8000 + kPulseToleranceStates + 1)},
       {8000 + kPulseToleranceStates + 1},
       {"longer than the procedure's 400 us"}},
      {"ProgrammedBitPulsedAgainIsOverProgramming",
       f67,
       1,
       {{ctl(0, kSwe), wr(100, 0, 0xFE)}, pulse(1000, 2400), pulse(5000, 2400)},
       {2400, 2400},
       {"already read 0 pulsed again at 0x000000 (1 bytes)"}},
      {"AdditionalProgrammingPulseIsAllowed3664",
       f64,
       1,
       {{ctl(0, kSwe), wr(100, 0, 0x00)},
        pulse(1000, 240),
        verify(3000, 0, 0x00),
        {wr(4000, 0, 0x00)},
        pulse(5000, 80)},
       {240, 80},
       {}},
      {"ShortFirstPulseTwiceIsNotAdditionalProgramming3664",
       f64,
       1,
       {{ctl(0, kSwe), wr(100, 0, 0x00)}, pulse(1000, 240), pulse(3000, 240)},
       {240, 240},
       {"already read 0 pulsed again"}},
      {"ReturnInsideWriteToPulseSpan",
       f64,
       1,
       {{ctl(0, kSwe), wr(100, 0, 0x00), rts(150)}, pulse(1000, 240), {rts(3000)}},
       {240},
       {"subroutine return at 0x000000 between the first flash write"}},
      {"ReturnBetweenDummyWriteAndVerifyRead",
       f67,
       1,
       {{ctl(0, kSwe), wr(100, 0, 0x00)},
        pulse(1000, 2400),
        {ctl(5000, kPv), wr(5100, 0, 0xFF), rts(5120), rd(5200, 0, 0x00), rts(5300)}},
       {2400},
       {"between a dummy write at 0x000000 and its verify read"}},
      {"ReadOutsideVerifyWhileSweSet",
       f67,
       1,
       {{ctl(0, kSwe), rd(10, 5, 0xFF), rd(20, 6, 0xFF)}},
       {},
       {"flash read at 0x000005 outside program-verify mode"}},
      {"VerifyReadWithoutDummyWrite",
       f67,
       1,
       {{ctl(0, kPv), rd(10, 5, 0xFF)}},
       {},
       {"verify read at 0x000005 without a dummy write"}},
      {"WriteOutsideProgrammingModeIgnored",
       f67,
       1,
       {{wr(10, 7, 0x00), ctl(20, kSwe)}, pulse(100, 2400), verify(5000, 7, 0xFF)},
       {2400},
       {"flash write at 0x000007 outside programming mode"}},
      {"AccumulatedPulseTimeBeyondProcedure3664",
       f64,
       1000000,
       [] {
         std::vector<std::vector<Step>> s{{ctl(0, kSwe), wr(100, 0, 0x00)}};
         for (int i = 0; i < 1100; ++i) s.push_back(pulse(1000 + 4000 * i, 1600));
         return s;
       }(),
       std::vector<States>(1100, 1600),
       {"accumulated pulse time beyond the procedure's"}},
  };
}

TEST(FlashControlTest, ProgramSequences) {
  for (const Case& c : cases()) {
    SCOPED_TRACE(c.name);
    Clock clock;
    const std::uint32_t hz = c.facts == &kFacts3664f ? 16000000 : 20000000;
    std::vector<std::uint8_t> cells(0x1000, 0xFF);
    FlashTrace trace(hz);
    bool routed = false;
    FlashControl flash(clock, *c.facts, hz, cells, trace, [&](bool on) { routed = on; });
    flash.set_slow_cells(c.slow_cells);
    for (const auto& group : c.steps) {
      for (const Step& s : group) {
        ASSERT_GE(s.at, clock.now());
        clock.advance(s.at - clock.now());
        switch (s.op) {
          case Step::kCtl:
            flash.write8(c.facts->flmcr1, s.value);
            EXPECT_EQ(routed, (flash.flmcr1() & kFlmcrSwe) != 0);
            break;
          case Step::kWrite:
            flash.flash_write8(s.offset, s.value);
            break;
          case Step::kRead:
            EXPECT_EQ(routed ? flash.flash_read8(s.offset) : cells[s.offset], s.value)
                << "read at " << s.at;
            break;
          case Step::kRts:
            flash.on_subroutine_return(0);
            break;
        }
      }
    }
    std::vector<States> widths;
    for (const FlashRecord& r : trace.pulses()) widths.push_back(r.width);
    EXPECT_EQ(widths, c.pulse_widths);
    auto misuses = trace.misuses();
    ASSERT_EQ(misuses.size(), c.misuses.size());
    for (std::size_t i = 0; i < misuses.size(); ++i) {
      EXPECT_NE(misuses[i].text.find(c.misuses[i]), std::string::npos) << misuses[i].text;
    }
  }
}

TEST(FlashControlTest, CellsOnlyClearAndEraseKeepsStuckByte) {
  Clock clock;
  std::vector<std::uint8_t> cells(64, 0xFF);
  FlashTrace trace(20000000);
  FlashControl flash(clock, kFacts3067f, 20000000, cells, trace, nullptr);
  flash.add_stuck_zero(3);
  EXPECT_EQ(cells[3], 0x00);
  cells[5] = 0x0F;
  flash.write8(kFacts3067f.flmcr1, kSwe);
  flash.flash_write8(5, 0xF0);  // asks for 1s where the cell holds 0s: nothing can set them
  flash.write8(kFacts3067f.flmcr1, kPsu);
  flash.write8(kFacts3067f.flmcr1, kP);
  clock.advance(2400);
  flash.write8(kFacts3067f.flmcr1, kPsu);
  EXPECT_EQ(cells[5], 0x00);
  flash.erase_all();
  EXPECT_EQ(cells[5], 0xFF);
  EXPECT_EQ(cells[3], 0x00);
}

TEST(FlashControlTest, TraceTextFormat) {
  Clock clock;
  std::vector<std::uint8_t> cells(16, 0xFF);
  FlashTrace trace(16000000);
  FlashControl flash(clock, kFacts3664f, 16000000, cells, trace, nullptr);
  flash.write8(kFacts3664f.flmcr1, kSwe);
  flash.write8(kFacts3664f.flmcr1, kPsu);
  clock.advance(800);
  flash.write8(kFacts3664f.flmcr1, kP);
  clock.advance(240);
  flash.write8(kFacts3664f.flmcr1, kPsu);
  flash.write8(kFacts3664f.flmcr1, kSwe | kFlmcrP);
  std::ostringstream text;
  trace.write_text(text);
  EXPECT_EQ(text.str(),
            "0 0.0000 SET SWE\n"
            "0 0.0000 SET PSU\n"
            "800 50.0000 SET P\n"
            "1040 65.0000 CLEAR P\n"
            "1040 65.0000 PULSE 240 15.0000\n"
            "1040 65.0000 CLEAR PSU\n"
            "1040 65.0000 SET P\n"
            "1040 65.0000 MISUSE P set without PSU (no programming)\n");
}

}  // namespace
}  // namespace h8sim
