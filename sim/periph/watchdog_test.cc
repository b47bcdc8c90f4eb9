#include "watchdog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace h8sim {
namespace {

void advance_to(Clock& clock, States t) {
  while (clock.next_deadline() <= t) {
    if (clock.next_deadline() > clock.now()) clock.advance(clock.next_deadline() - clock.now());
    clock.run_due();
  }
  if (t > clock.now()) clock.advance(t - clock.now());
  clock.run_due();
}

struct Write {
  States at;
  Addr addr;
  std::uint8_t value;
};

TEST(WatchdogTinyTest, WriteInhibitRulesAndOverflow) {
  struct Case {
    std::string name;
    std::vector<Write> writes;
    std::uint8_t tcsrwd;         // read at the end
    std::vector<States> resets;  // times of the resets
  };
  using W = WatchdogTiny;
  const std::vector<Case> cases = {
      {"ArmedAndLeftRunningResetsAfter14Counts",
       {{0, W::kTcsrwd, 0x5A}, {0, W::kTmwd, 0xFF}, {0, W::kTcwd, 0xF2}, {0, W::kTcsrwd, 0xA4}},
       0xFF,  // WDON and WRST (the watchdog runs on after its reset: the hook decides)
       {14 * 8192}},
      {"ArmedInMidPrescalerPhaseGets13WholeCounts",
       {{5000, W::kTcsrwd, 0x5A},
        {5000, W::kTmwd, 0xFF},
        {5000, W::kTcwd, 0xF2},
        {5000, W::kTcsrwd, 0xA4}},
       0xFF,
       {14 * 8192}},
      {"StoppedInTimeNoReset",
       {{0, W::kTcsrwd, 0x5A},
        {0, W::kTmwd, 0xFF},
        {0, W::kTcwd, 0xF2},
        {0, W::kTcsrwd, 0xA4},
        {100000, W::kTcsrwd, 0xA0}},
       0xFA,
       {}},
      {"WdonNeedsTcsrweAlreadySet",
       {{0, W::kTcsrwd, 0x04 | 0xA2}},  // B2WI=0, WDON=1, but TCSRWE is 0
       0xAA,
       {}},
      {"InhibitBitSetLeavesBit",
       {{0, W::kTcsrwd, 0x5A}, {0, W::kTcsrwd, 0x80 | 0x20 | 0x0A}},  // B6WI, B4WI set: TCWE stays
       0xFA,
       {}},
      {"TcwdNeedsTcwe",
       {{0, W::kTcsrwd, 0x10 | 0x80 | 0x0A}, {0, W::kTcsrwd, 0xA4}, {0, W::kTcwd, 0xFE}},
       0xBF,  // TCWE clear: the TCWD write was ignored and the count ran from 0
       {256 * 8192}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Clock clock;
    std::vector<States> resets;
    WatchdogTiny wdt(clock, [&](const std::string&) { resets.push_back(clock.now()); });
    for (const Write& w : c.writes) {
      advance_to(clock, w.at);
      wdt.write8(w.addr, w.value);
    }
    advance_to(clock, 256 * 8192 + 10);
    EXPECT_EQ(wdt.read8(W::kTcsrwd), c.tcsrwd);
    EXPECT_EQ(resets, c.resets);
  }
}

TEST(Watchdog3067Test, PasswordWordWritesOnly) {
  Clock clock;
  std::vector<States> resets;
  Watchdog3067 wdt(clock, [&](const std::string&) { resets.push_back(clock.now()); });
  using W = Watchdog3067;
  // The writing program's byte writes do nothing on this chip.
  for (std::uint8_t v : {0xC0, 0x7F, 0x1F}) wdt.write8(W::kTcsr, v);
  EXPECT_EQ(wdt.read8(W::kTcsr), 0x18);
  advance_to(clock, 5'000'000);
  EXPECT_TRUE(resets.empty());

  wdt.write16(W::kRstcsrWrite, 0x5A40);  // RSTE: an overflow resets the chip
  wdt.write16(W::kTcsr, 0xA567);         // watchdog mode, TME, φ/4096
  wdt.write16(W::kTcsr, 0x5A80);         // TCNT = 0x80
  EXPECT_EQ(wdt.read8(W::kTcsr), 0x7F);
  const States armed = clock.now();
  advance_to(clock, armed + 4096 * 10);
  EXPECT_EQ(wdt.read8(W::kTcnt), 0x80 + 10);
  advance_to(clock, armed + 4096 * 200);
  ASSERT_EQ(resets.size(), 1u);
  EXPECT_EQ(resets[0], (armed / 4096 + 128) * 4096);
  EXPECT_EQ(wdt.read8(W::kRstcsrRead) & 0x80, 0x80);  // WOVF
}

}  // namespace
}  // namespace h8sim
