// Compiled C in the simulator: the checks program, built by h8300-hms-gcc for advanced and
// normal mode, must print on the chip's serial line exactly what its native build prints.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "../testing/machine.h"

namespace h8sim {
namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Just enough of the serial channel for a polled printer: TDRE and TEND always set, a byte
// captured on the TDR write (SCI3) or when TDRE is then written 0 (SCI channel 1).
class CaptureSci : public IoDevice {
 public:
  CaptureSci(Addr smr, bool sci3) : smr_(smr), sci3_(sci3) {}
  std::uint8_t read8(Addr addr) override { return addr == smr_ + 4 ? 0x84 : regs_[addr - smr_]; }
  void write8(Addr addr, std::uint8_t value) override {
    regs_[addr - smr_] = value;
    if (addr == smr_ + 3) {
      if (sci3_) text += static_cast<char>(value);
      pending_ = !sci3_;
    } else if (addr == smr_ + 4 && !(value & 0x80) && pending_) {
      text += static_cast<char>(regs_[3]);
      pending_ = false;
    }
  }
  std::string text;

 private:
  Addr smr_;
  bool sci3_;
  std::uint8_t regs_[6] = {};
  bool pending_ = false;
};

struct ProgramCase {
  ChipModel chip;
  const char* image;
};

class CompiledCTest : public ::testing::TestWithParam<ProgramCase> {};

TEST_P(CompiledCTest, PrintsWhatTheNativeBuildPrints) {
  std::string want = slurp(H8SIM_TESTPROGS_DIR "/checks_native.txt");
  std::string image = slurp(std::string(H8SIM_TESTPROGS_DIR "/") + GetParam().image);
  ASSERT_FALSE(want.empty());
  testing::Machine m(GetParam().chip);
  ASSERT_LE(image.size(), m.bus.flash().size());
  std::copy(image.begin(), image.end(), m.bus.flash().begin());
  bool sci3 = GetParam().chip == ChipModel::k3664f;
  CaptureSci sci(sci3 ? 0xFFA8 : 0xFFFFB8, sci3);
  ASSERT_TRUE(m.bus.attach(sci3 ? 0xFFA8 : 0xFFFFB8, sci3 ? 0xFFAD : 0xFFFFBD, &sci));
  m.cpu.reset();
  StopResult r = m.run(100'000'000, std::chrono::seconds(120));
  EXPECT_EQ(r.reason, StopReason::kSleep) << r.message;
  EXPECT_EQ(sci.text, want);
}

INSTANTIATE_TEST_SUITE_P(Chips, CompiledCTest,
                         ::testing::Values(ProgramCase{ChipModel::k3067f, "checks_advanced.bin"},
                                           ProgramCase{ChipModel::k3068f, "checks_advanced.bin"},
                                           ProgramCase{ChipModel::k3664f, "checks_normal.bin"}));

}  // namespace
}  // namespace h8sim
