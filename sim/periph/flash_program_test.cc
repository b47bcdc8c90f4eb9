// H8 programs (testprogs/) that program and verify one flash unit with the chip's
// program/program-verify procedure, loaded through the boot exchange and run on the simulated
// chip; the flash-control trace must show their pulses at the expected widths, and the
// deliberately wrong variants must be flagged.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "boot_session.h"

namespace h8sim {
namespace {

#ifdef H8SIM_TESTPROGS_DIR
constexpr const char* kProgramDir = H8SIM_TESTPROGS_DIR;
#else
constexpr const char* kProgramDir = nullptr;
#endif

constexpr std::size_t kImageSize = 1024;
constexpr States kStateBudget = 200'000'000;
constexpr auto kWallBound = std::chrono::seconds(120);

bool read_program(const std::string& name, std::vector<std::uint8_t>* image) {
  if (kProgramDir == nullptr) return false;
  std::ifstream in(std::string(kProgramDir) + "/" + name + ".bin", std::ios::binary);
  if (!in) return false;
  image->assign(std::istreambuf_iterator<char>(in), {});
  if (image->empty() || image->size() > kImageSize) return false;
  image->resize(kImageSize, 0xFF);
  return true;
}

// Runs the host's side of the boot exchange with `image` and returns once the program runs.
void boot(BootSession& s, const std::vector<std::uint8_t>& image) {
  std::vector<std::uint8_t> stream(256, 0x00);
  stream.insert(stream.end(), {0x55, 0x04, 0x00});
  stream.insert(stream.end(), image.begin(), image.end());
  s.host_send(stream);
  SessionResult r = s.run_until_frames(4 + kImageSize + 1, kStateBudget, kWallBound);
  ASSERT_EQ(r.stop, SessionStop::kFrames) << r.message;
  ASSERT_TRUE(s.program_started());
  s.take_chip_frames();
}

struct Case {
  std::string program;
  ChipModel chip;
  std::vector<std::string> faults;
  char reply;
  Addr unit;
  std::size_t unit_size;
  std::vector<double> pulse_us;  // the expected widths in µs, in order
  std::string misuse;            // a substring of the first misuse ("" = none expected)
};

std::vector<double> repeat(std::vector<double> pattern, int times, std::vector<double> tail) {
  std::vector<double> out;
  for (int i = 0; i < times; ++i) out.insert(out.end(), pattern.begin(), pattern.end());
  out.insert(out.end(), tail.begin(), tail.end());
  return out;
}

TEST(FlashProgramTest, ProgramVerifyProcedureOnEachChip) {
  std::vector<std::uint8_t> probe;
  if (!read_program("flash-3067f", &probe)) GTEST_SKIP() << "H8 test programs not built";
  const std::vector<Case> cases = {
      {"flash-3067f", ChipModel::k3067f, {}, 'S', 0x1000, 32, {120}, ""},
      {"flash-3068f", ChipModel::k3068f, {}, 'S', 0x1000, 32, {120}, ""},
      {"flash-3067f",
       ChipModel::k3067f,
       {"slow-cells=5"},
       'S',
       0x1000,
       32,
       {120, 120, 120, 120, 400},
       ""},
      {"flash-3067f",
       ChipModel::k3067f,
       {"stuck-zero=0x1000"},
       'F',
       0x1000,
       0,
       repeat({120}, 4, repeat({400}, 400, {})),
       ""},
      {"flash-3067f-long-pulse",
       ChipModel::k3067f,
       {"slow-cells=5"},
       'S',
       0x1000,
       32,
       {120, 120, 120, 120, 440},
       "pulse of 440."},
      {"flash-3067f-rts-in-pulse",
       ChipModel::k3067f,
       {},
       'S',
       0x1000,
       32,
       {120},
       "between the first flash write of an attempt and the clearing of P"},
      {"flash-3664f", ChipModel::k3664f, {}, 'S', 0x2000, 128, {15, 5}, ""},
      {"flash-3664f",
       ChipModel::k3664f,
       {"slow-cells=7"},
       'S',
       0x2000,
       128,
       repeat({15, 5}, 5, {15, 100}),
       ""},
      {"flash-3664f-rts-in-verify",
       ChipModel::k3664f,
       {},
       'S',
       0x2000,
       128,
       {15, 5},
       "between a dummy write"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.program + (c.faults.empty() ? "" : " " + c.faults[0]));
    std::vector<std::uint8_t> image;
    ASSERT_TRUE(read_program(c.program, &image));
    Faults faults;
    std::string err;
    for (const auto& f : c.faults) ASSERT_TRUE(parse_fault(f, faults, &err)) << err;
    BootSession s(c.chip, faults);
    boot(s, image);
    SessionResult r = s.run_until_frames(1, kStateBudget, kWallBound);
    ASSERT_EQ(r.stop, SessionStop::kFrames) << r.message;
    EXPECT_EQ(s.take_chip_frames()[0].value, c.reply);

    const FlashTrace& trace = s.chip().trace();
    auto pulses = trace.pulses();
    ASSERT_EQ(pulses.size(), c.pulse_us.size());
    for (std::size_t i = 0; i < pulses.size(); ++i) {
      const States nominal = trace.from_us(c.pulse_us[i]);
      EXPECT_GE(pulses[i].width, nominal) << trace.line(pulses[i]);
      EXPECT_LE(pulses[i].width, nominal + kPulseToleranceStates) << trace.line(pulses[i]);
    }
    auto misuses = trace.misuses();
    if (c.misuse.empty()) {
      EXPECT_TRUE(misuses.empty()) << trace.line(misuses.front());
    } else {
      ASSERT_FALSE(misuses.empty());
      EXPECT_NE(misuses.front().text.find(c.misuse), std::string::npos) << misuses.front().text;
    }
    EXPECT_TRUE(trace.resets().empty());  // the watchdog never ran out
    EXPECT_EQ(s.chip().flash_control().flmcr1(), 0);
    auto flash = s.chip().flash();
    for (std::size_t i = 0; i < c.unit_size; ++i) {
      ASSERT_EQ(flash[c.unit + i], static_cast<std::uint8_t>(i ^ 0x5A)) << i;
    }
  }
}

}  // namespace
}  // namespace h8sim
