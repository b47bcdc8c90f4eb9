#include "boot_session.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace h8sim {
namespace {

constexpr std::size_t kProgramSize = 1024;

// A program image without 0x55 in it, so that a lost 0x55 cannot be stood in for by data.
std::vector<std::uint8_t> program() {
  std::vector<std::uint8_t> p(kProgramSize);
  for (std::size_t i = 0; i < p.size(); ++i) p[i] = static_cast<std::uint8_t>(i & 0x3F);
  return p;
}

// What the host sends: one burst of 256 zeros, 0x55, the size, the program.
std::vector<std::uint8_t> host_stream() {
  std::vector<std::uint8_t> s(256, 0x00);
  s.push_back(0x55);
  s.push_back(0x04);
  s.push_back(0x00);
  auto p = program();
  s.insert(s.end(), p.begin(), p.end());
  return s;
}

// What a chip without faults answers.
std::vector<std::uint8_t> good_answer() {
  std::vector<std::uint8_t> a = {0x00, 0xAA, 0x04, 0x00};
  auto p = program();
  a.insert(a.end(), p.begin(), p.end());
  a.push_back(0xAA);
  return a;
}

struct Outcome {
  std::vector<std::uint8_t> bytes;
  std::vector<LineFrame> frames;
  bool started;
};

Outcome exchange(ChipModel model, const std::vector<std::string>& fault_specs) {
  Faults faults;
  for (const auto& spec : fault_specs) {
    std::string err;
    EXPECT_TRUE(parse_fault(spec, faults, &err)) << err;
  }
  BootSession s(model, faults);
  const States end = s.host_send(host_stream());
  // Twice the host's time is plenty for the slower chip's echoes; the CPU is not run here.
  SessionResult r = s.run_until(2 * end, std::chrono::seconds(20));
  EXPECT_NE(r.stop, SessionStop::kWallClock);
  Outcome out{{}, s.take_chip_frames(), s.program_started()};
  for (const LineFrame& f : out.frames) out.bytes.push_back(f.value);
  return out;
}

TEST(BootSessionTest, BootExchangeWithEachFault) {
  struct Case {
    std::vector<std::string> faults;
    std::vector<std::uint8_t> answer;
    bool started;
  };
  auto changed = [](std::size_t index, std::uint8_t value) {
    auto a = good_answer();
    a[index] = value;
    return a;
  };
  const std::vector<Case> cases = {
      {{}, good_answer(), true},
      {{"no-answer"}, {}, false},
      {{"first-byte=3F"}, changed(0, 0x3F), true},
      {{"after-55=55"}, changed(1, 0x55), true},
      {{"echo-size-high"}, changed(2, 0xFB), true},
      {{"echo-size-low"}, changed(3, 0xFF), true},
      {{"echo-data=1024"}, changed(4 + 1023, static_cast<std::uint8_t>(~(1023 & 0x3F))), true},
      {{"no-ack"}, changed(4 + kProgramSize, 0xFF), false},
      {{"drop-byte=1"}, {0x00}, false},             // the 0x55 is lost
      {{"hangup-after=1"}, {0x00, 0xAA}, false},    // the 0x55 goes through, nothing after it
      {{"hangup-after=0"}, {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.faults.empty() ? "no fault" : c.faults[0]);
    Outcome o = exchange(ChipModel::k3067f, c.faults);
    EXPECT_EQ(o.bytes, c.answer);
    EXPECT_EQ(o.started, c.started);
  }
}

TEST(BootSessionTest, AnswersAtChipFrameTimesAndLoadsProgram) {
  struct Case {
    ChipModel model;
    std::uint8_t brr;
    States chip_frame;
    Addr load;
  } table[] = {{ChipModel::k3067f, 32, 10560, 0xFFF400},
               {ChipModel::k3068f, 32, 10560, 0xFFC720},
               {ChipModel::k3664f, 25, 8320, 0xF780}};
  for (const Case& c : table) {
    Faults faults;
    faults.stuck_zero = {0x10};
    BootSession s(c.model, faults);
    s.chip().load(0, std::vector<std::uint8_t>(64, 0x12));  // something for the erase to clear
    const double host_bit = s.line_bit_states();
    const States end = s.host_send(host_stream());
    s.run_until(2 * end);
    auto frames = s.take_chip_frames();
    ASSERT_EQ(frames.size(), good_answer().size());
    // The answer to the zeros starts as the 128th zero's frame ends.
    EXPECT_EQ(frames[0].start, 128 * static_cast<States>(std::ceil(10 * host_bit)));
    for (const LineFrame& f : frames) EXPECT_EQ(f.end - f.start, c.chip_frame);
    EXPECT_EQ(s.chip().sci().brr(), c.brr);
    EXPECT_EQ(s.chip().sci().smr(), 0);
    EXPECT_EQ(s.chip().sci().scr(), 0x30);
    EXPECT_EQ(s.chip().sci().peek_ssr(), 0x84);  // TDRE and TEND only
    ASSERT_TRUE(s.program_started());
    EXPECT_EQ(s.program_start(), frames.back().end);
    EXPECT_EQ(s.chip().cpu().pc(), c.load);
    auto p = program();
    for (std::size_t i = 0; i < p.size(); ++i) {
      ASSERT_EQ(s.chip().bus().peek8(c.load + static_cast<Addr>(i)), p[i]) << i;
    }
    auto flash = s.chip().flash();
    for (std::size_t i = 0; i < flash.size(); ++i) {
      ASSERT_EQ(flash[i], i == 0x10 ? 0x00 : 0xFF) << i;
    }
  }
}

TEST(BootSessionTest, OversizedProgramGetsNoAnswerAfterSize) {
  BootSession s(ChipModel::k3664f);
  std::vector<std::uint8_t> stream(128, 0);
  stream.insert(stream.end(), {0x55, 0x08, 0x01});  // 2049 bytes do not fit in 2 KB of RAM
  stream.insert(stream.end(), 16, 0x11);
  s.run_until(2 * s.host_send(stream));
  std::vector<std::uint8_t> got;
  for (const LineFrame& f : s.take_chip_frames()) got.push_back(f.value);
  EXPECT_EQ(got, (std::vector<std::uint8_t>{0x00, 0xAA, 0x08, 0x01}));
  EXPECT_EQ(s.boot_phase(), BootStandIn::Phase::kFailed);
}

}  // namespace
}  // namespace h8sim
