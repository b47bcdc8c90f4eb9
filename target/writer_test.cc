// The writing programs on the simulated chips, driven through the boot mode and the block
// protocol as the host drives them; the simulator's flash-control timeline is the witness.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "flash_timeline.h"
#include "writer_session.h"

namespace vexlo::testing {
namespace {

constexpr std::uint8_t kReplyOk = 0x53, kReplyFailed = 0x46;
constexpr std::uint8_t kErased = 0xFF;
// Straight-line code between a wait loop and the event that ends its measured interval: loop
// set-up, the attempt's bookkeeping, the calls and returns on the way to the reply, the next
// instruction's fetch and read (at most 78 states in these programs).
constexpr States kWaitSlackStates = 96;

// Block data with 0 and 1 bits in every byte position, different for each block number.
std::vector<std::uint8_t> pattern(const Target& t, std::uint32_t number) {
  std::vector<std::uint8_t> data(t.block_bytes);
  for (std::size_t i = 0; i < data.size(); ++i) {
    data[i] = static_cast<std::uint8_t>((i * 37 + number * 11) ^ 0x5A);
    if (data[i] == kErased) data[i] = 0x00;
  }
  return data;
}

// A booted session, or a test failure that says why not.
struct Booted {
  explicit Booted(const Target& t, h8sim::Faults faults = {}) : s(t, std::move(faults)) {
    const std::string why = s.boot();
    EXPECT_EQ(why, "");
    ok = why.empty();
  }
  WriterSession s;
  bool ok = false;
};

// Expects the block to have been answered with `reply` and the run to be clean so far.
void expect_reply(WriterSession& s, const BlockOutcome& b, std::uint8_t reply) {
  ASSERT_TRUE(b.replied) << b.why;
  EXPECT_EQ(b.why, "");
  EXPECT_EQ(b.reply, reply);
  EXPECT_EQ(flagged(s), "");
}

const Target* all_targets[] = {&target_3067f(), &target_3068f(), &target_3664f()};

// Each block lands at block number x block size and nowhere else.
TEST(WriterTest, BlockNumberFormsTheFlashAddress) {
  struct Case {
    const Target* target;
    std::vector<std::uint32_t> numbers;
  } cases[] = {
      {&target_3067f(), {0x0000, 0x0102, 0x0FFF}},
      {&target_3068f(), {0x0000, 0x0102, 0x2FFF}},
      {&target_3664f(), {0x00, 0x01, 0xFF}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target->name);
    Booted b(*c.target);
    ASSERT_TRUE(b.ok);
    std::vector<std::uint8_t> expected(b.s.flash().size(), kErased);
    for (std::uint32_t number : c.numbers) {
      SCOPED_TRACE(number);
      const auto data = pattern(*c.target, number);
      expect_reply(b.s, b.s.send_block(number, data), kReplyOk);
      std::copy(data.begin(), data.end(), expected.begin() + number * c.target->block_bytes);
      EXPECT_TRUE(std::equal(expected.begin(), expected.end(), b.s.flash().begin()));
    }
    EXPECT_TRUE(b.s.idle(100'000).empty()) << "a frame that is no reply";
  }
}

// A block whose cells take at the first pulse gets the first attempt's pulses only, and every
// wait of the procedure lasts its figure, give or take the instructions around it.
TEST(WriterTest, FirstAttemptPulsesAndWaits) {
  for (const Target* t : all_targets) {
    SCOPED_TRACE(t->name);
    Booted b(*t);
    ASSERT_TRUE(b.ok);
    const BlockOutcome block = b.s.send_block(1, pattern(*t, 1));
    expect_reply(b.s, block, kReplyOk);
    EXPECT_EQ(pulse_kinds(*t, b.s.trace(), block.trace_from),
              t->model == ChipModel::k3664f ? "SA" : "S");
    const auto waits = measured_waits(b.s, block);
    EXPECT_GE(waits.size(), 9u);
    for (const Wait& w : waits) {
      EXPECT_GE(w.measured, w.figure) << w.name;
      EXPECT_LE(w.measured, w.figure + t->pass_states + kWaitSlackStates) << w.name;
    }
  }
}

// Cells that need five (H8/3067F) or seven (H8/3664F) first pulses: the short pulses, then a
// long one, with additional programming after each of the first five attempts (H8/3664F).
TEST(WriterTest, SlowCellsGetShortPulsesThenLong) {
  struct Case {
    const Target* target;
    unsigned slow_cells;
    std::string pulses;
  } cases[] = {
      {&target_3067f(), 5, "SSSSL"},
      {&target_3664f(), 7, "SASASASASASL"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target->name);
    h8sim::Faults faults;
    faults.slow_cells = c.slow_cells;
    Booted b(*c.target, faults);
    ASSERT_TRUE(b.ok);
    const auto data = pattern(*c.target, 2);
    const BlockOutcome block = b.s.send_block(2, data);
    expect_reply(b.s, block, kReplyOk);
    EXPECT_EQ(pulse_kinds(*c.target, b.s.trace(), block.trace_from), c.pulses);
    EXPECT_TRUE(
        std::equal(data.begin(), data.end(), b.s.flash().begin() + 2 * c.target->block_bytes));
  }
}

// The pulses of a block that runs to the attempt limit.
std::string pulses_to_limit(const Target& t) {
  if (t.model == ChipModel::k3664f) return "SASASASASAS" + std::string(995, 'L');
  return "SSSS" + std::string(400, 'L');
}

// A byte that reads 0 where the data has 1 bits can never verify: the block gets every attempt
// and 0x46, SWE ends clear, and the program goes on with the next block.
TEST(WriterTest, StuckZeroRunsToTheAttemptLimit) {
  for (const Target* t : {&target_3067f(), &target_3664f()}) {
    SCOPED_TRACE(t->name);
    const std::uint32_t number = 3;
    h8sim::Faults faults;
    faults.stuck_zero = {number * t->block_bytes + 5};
    Booted b(*t, faults);
    ASSERT_TRUE(b.ok);
    const BlockOutcome block = b.s.send_block(number, pattern(*t, number));
    expect_reply(b.s, block, kReplyFailed);
    EXPECT_EQ(pulse_kinds(*t, b.s.trace(), block.trace_from), pulses_to_limit(*t));
    EXPECT_EQ(b.s.chip().flash_control().flmcr1() & h8sim::kFlmcrSwe, 0);
    expect_reply(b.s, b.s.send_block(number + 1, pattern(*t, number + 1)), kReplyOk);
  }
}

// The attempt at which a block whose cells need `slow_cells` first pulses first verifies, from
// the pulse widths the program really gives: attempt n adds its main pulse to every cell not
// yet programmed (additional pulses go only to cells that are).
unsigned slow_cells_verifying_at(const Target& t, unsigned attempt, States short_width,
                                 States long_width) {
  const unsigned short_attempts = t.model == ChipModel::k3664f ? 6 : 4;
  const States total = std::min(attempt, short_attempts) * short_width +
                       (attempt > short_attempts ? attempt - short_attempts : 0) * long_width;
  // A cell needs slow_cells x the nominal first pulse, less the simulator's tolerance; the
  // largest such need that `total` reaches is more than the total one attempt earlier, since
  // one nominal first pulse is shorter than a long pulse.
  const States first = pulse_figures(t).short_pulse;
  return static_cast<unsigned>((total + h8sim::kPulseToleranceStates) / first);
}

// The last attempt whose verify counts gets 0x53; a block that would verify one attempt later
// gets 0x46 (the H8/3067F acts on attempts 1-403 and stops after the 404th pulse; the
// H8/3664F acts on attempts 1-1000 and stops after the 1001st).
TEST(WriterTest, AttemptLimitBoundary) {
  struct Case {
    const Target* target;
    unsigned last_counted;
    unsigned slow_cells_for_widths;  // a short run that shows both pulse widths
  } cases[] = {{&target_3067f(), 403, 5}, {&target_3664f(), 1000, 7}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target->name);
    const Target& t = *c.target;
    States short_width = 0, long_width = 0;
    {
      h8sim::Faults faults;
      faults.slow_cells = c.slow_cells_for_widths;
      Booted b(t, faults);
      ASSERT_TRUE(b.ok);
      const BlockOutcome block = b.s.send_block(0, pattern(t, 0));
      expect_reply(b.s, block, kReplyOk);
      for (const auto& p : b.s.trace().pulses()) {
        if (p.width >= pulse_figures(t).long_pulse) long_width = p.width;
        if (p.width >= pulse_figures(t).short_pulse && p.width < pulse_figures(t).long_pulse) {
          short_width = p.width;
        }
      }
      ASSERT_NE(short_width * long_width, 0u);
    }
    for (unsigned attempt : {c.last_counted, c.last_counted + 1}) {
      SCOPED_TRACE(attempt);
      h8sim::Faults faults;
      faults.slow_cells = slow_cells_verifying_at(t, attempt, short_width, long_width);
      Booted b(t, faults);
      ASSERT_TRUE(b.ok);
      const auto data = pattern(t, 7);
      const BlockOutcome block = b.s.send_block(7, data);
      const bool counted = attempt == c.last_counted;
      expect_reply(b.s, block, counted ? kReplyOk : kReplyFailed);
      const std::string pulses = pulse_kinds(t, b.s.trace(), block.trace_from);
      EXPECT_EQ(pulses, pulses_to_limit(t).substr(0, counted ? pulses.size() : std::string::npos));
      EXPECT_EQ(std::count(pulses.begin(), pulses.end(), 'S') +
                    std::count(pulses.begin(), pulses.end(), 'L'),
                static_cast<long>(std::min(attempt, c.last_counted + 1)));
      // The cells did take at `attempt`, whatever the reply.
      EXPECT_TRUE(std::equal(data.begin(), data.end(), b.s.flash().begin() + 7 * t.block_bytes));
    }
  }
}

// A frame that arrives garbled (framing error) or is dropped by the receiver (overrun) still
// takes its place in the block: the program takes exactly the block's bytes, programs nothing,
// answers 0x46, and is in step for the next block.
TEST(WriterTest, ReceiveErrorRefusesTheBlockAndStaysInStep) {
  struct Case {
    LineFault fault;
    std::size_t index;  // the byte of the block on the line: 0 is the first block number byte
  };
  for (const Target* t : all_targets) {
    const std::size_t last = t->number_bytes + t->block_bytes - 1;
    const Case cases[] = {
        {LineFault::kFramingError, 0},
        {LineFault::kFramingError, t->number_bytes},
        {LineFault::kFramingError, last},
        {LineFault::kOverrun, 1},
        {LineFault::kOverrun, t->number_bytes + 7},
        {LineFault::kOverrun, last},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(t->name) + (c.fault == LineFault::kOverrun ? " overrun" : " FER") +
                   " at byte " + std::to_string(c.index));
      Booted b(*t);
      ASSERT_TRUE(b.ok);
      const BlockOutcome bad = b.s.send_block(1, pattern(*t, 1), c.fault, c.index);
      expect_reply(b.s, bad, kReplyFailed);
      EXPECT_EQ(b.s.trace().records().size(), bad.trace_from) << "flash control touched";
      EXPECT_EQ(b.s.flash_log().size(), bad.flash_from) << "flash accessed";
      EXPECT_TRUE(std::all_of(b.s.flash().begin(), b.s.flash().end(),
                              [](std::uint8_t v) { return v == kErased; }));
      const auto data = pattern(*t, 2);
      expect_reply(b.s, b.s.send_block(2, data), kReplyOk);
      EXPECT_TRUE(std::equal(data.begin(), data.end(), b.s.flash().begin() + 2 * t->block_bytes));
    }
  }
}

// H8/3664F: the receiver is off between the block number and the data for far less than one
// bit time, and the reply has left the line (TEND) with the transmitter off again before the
// program waits for the next block number.
TEST(WriterTest, SerialSwitchingOnTheH83664F) {
  const Target& t = target_3664f();
  constexpr States kMaxReceiverGapStates = 100;  // one bit is 832 states
  constexpr Addr kScr3 = 0xFFAA, kSsr = 0xFFAC;
  constexpr std::uint8_t kTe = 0x20, kRe = 0x10, kTend = 0x04;
  Booted b(t);
  ASSERT_TRUE(b.ok);
  // The first block finds the program still setting up its serial interface; look at the next.
  expect_reply(b.s, b.s.send_block(3, pattern(t, 3)), kReplyOk);
  const BlockOutcome first = b.s.send_block(4, pattern(t, 4));
  expect_reply(b.s, first, kReplyOk);
  const BlockOutcome second = b.s.send_block(5, pattern(t, 5));
  expect_reply(b.s, second, kReplyOk);

  const auto& log = b.s.sci_log();
  std::vector<Access> scr_writes;
  for (std::size_t i = first.sci_from; i < second.sci_from; ++i) {
    if (log[i].write && log[i].addr == kScr3) scr_writes.push_back(log[i]);
  }
  // The program already waits for the block number: RE off after it, on for the data, off;
  // TE on for the reply, off; RE on for the next block number.
  ASSERT_EQ(scr_writes.size(), 6u);
  EXPECT_EQ(scr_writes[0].value & kRe, 0);
  EXPECT_NE(scr_writes[1].value & kRe, 0);
  EXPECT_LT(scr_writes[1].at - scr_writes[0].at, kMaxReceiverGapStates);
  EXPECT_EQ(scr_writes[4].value & (kTe | kRe), 0);
  EXPECT_GE(scr_writes[4].at, first.reply_frame.end);
  EXPECT_NE(scr_writes[5].value & kRe, 0);
  bool tend_seen = false;
  for (std::size_t i = first.sci_from; i < second.sci_from; ++i) {
    tend_seen |= !log[i].write && log[i].addr == kSsr && (log[i].value & kTend) &&
                 log[i].at >= first.reply_frame.end && log[i].at <= scr_writes[4].at;
  }
  EXPECT_TRUE(tend_seen);
}

}  // namespace
}  // namespace vexlo::testing
