// The Windows builds of vexloa, vexlob and vexloc under wine, against the fake chip: the pty is
// mapped to a COM port through a symlink in the wine prefix's dosdevices folder, so the programs
// go through the Win32 serial calls and wine's serial layer.
#include <termios.h>

#include <filesystem>

#include "download_model.h"
#include "gtest/gtest.h"
#include "host_run.h"

namespace vexlo::hosttest {
namespace {

namespace fs = std::filesystem;
using Kind = Fault::Kind;

constexpr int kFailureStatus = 255;
constexpr const char* kComPort = "COM7";
const fs::path kPrefix = VEXLO_WINE_PREFIX;

std::string ExePath(const Deliverable& d) {
  return (fs::path(VEXLO_WINDOWS_BIN_DIR) / (std::string(d.program) + ".exe")).string();
}

// The C runtime writes the standard streams in text mode: each line feed becomes CR LF.
std::string TextMode(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

HostRunSpec WineSpec(const Deliverable& d, const std::string& srec, const ChipScript& script) {
  HostRunSpec spec;
  spec.command = {VEXLO_WINE, ExePath(d)};
  spec.args = {"prog.mot", kComPort};
  spec.srec_text = srec;
  spec.script = script;
  spec.image_name = ImageName(d);
  spec.extra_env = {"WINEPREFIX=" + kPrefix.string(), "WINEDEBUG=-all"};
  spec.prepare = [](const fs::path&, const std::string& port) {
    const fs::path link = kPrefix / "dosdevices" / "com7";
    fs::remove(link);
    fs::create_symlink(port, link);
  };
  return spec;
}

// Wine's serial layer puts the terminal into raw mode on every SetCommState and writes only what a
// DCB can hold, so restoring the saved DCB brings back the bit rate, character size, parity and
// stop bits, but not the terminal's canonical mode, translations, VMIN/VTIME or CLOCAL.
void ExpectDcbSettingsRestored(const ChipRecord& chip) {
  constexpr tcflag_t kFrame = CSIZE | PARENB | PARODD | CSTOPB;
  EXPECT_EQ(cfgetospeed(&chip.after), cfgetospeed(&chip.before));
  EXPECT_EQ(cfgetispeed(&chip.after), cfgetispeed(&chip.before));
  EXPECT_EQ(chip.after.c_cflag & kFrame, chip.before.c_cflag & kFrame);
  ASSERT_TRUE(chip.during.has_value());
  EXPECT_EQ(cfgetospeed(&*chip.during), speed_t{B19200});
  EXPECT_EQ(chip.during->c_cflag & (kFrame | CRTSCTS), tcflag_t{CS8});
}

struct WineCase {
  const char* name;
  const Deliverable* d;
  bool full_image;  // every block holds data; otherwise a few blocks, the last one included
  Fault fault;
  std::string err_tail;  // after the ready banner; empty for a successful download
  std::string out;
  int status;
};

template <typename Case>
std::string CaseName(const testing::TestParamInfo<Case>& param) {
  return param.param.name;
}

void PrintTo(const WineCase& c, std::ostream* os) { *os << c.name; }

std::vector<WineCase> WineCases() {
  const std::string done = "EEPROM writing program transfer successed.\n";
  const Fault none{};
  return {
      {"FullImageB", &kVexlob, true, none, "", done, 0},
      {"FullImageA", &kVexloa, true, none, "", done, 0},
      {"SparseImageC", &kVexloc, false, none, "", done, 0},
      {"DataEchoWrongB",
       &kVexlob,
       false,
       {Kind::kWrongByte, Step::kEcho, 2 + 700, 0x42},
       "",
       "EEPROM bin data failed!\n",
       kFailureStatus},
      {"BlockRefusedA",
       &kVexloa,
       false,
       {Kind::kWrongByte, Step::kBlockReply, 5, 'F'},
       "\nEEPROM Writing is failed.(F)\n",
       done,
       kFailureStatus},
      {"SilentAtBlockC",
       &kVexloc,
       false,
       {Kind::kSilent, Step::kBlockReply, 0},
       "read timeout\n",
       done,
       kFailureStatus},
  };
}

class WineTest : public testing::TestWithParam<WineCase> {};

TEST_P(WineTest, RunsAgainstFakeChip) {
  const WineCase& c = GetParam();
  const Deliverable& d = *c.d;
  // Sparse: blocks 0, 5 and 256 (0x01 0x00 on the line) and the last block.
  const std::vector<SRecord> records =
      c.full_image ? FullImageRecords(d)
                   : std::vector<SRecord>{{1, 0, {1, 2}},
                                          {2, 5 * d.block_size, {0x55}},
                                          {2, 256 * d.block_size, {0x56}},
                                          {3, d.image_size - 2, {0xA0, 0xA1}}};
  const Bytes image = PlaceRecords(d, records);
  ChipScript script = ScriptFor(d);
  script.fault = c.fault;
  const HostRun run = RunHost(WineSpec(d, SRecordFile(records), script));
  ASSERT_TRUE(run.child.exited) << DescribeEnd(run.child) << "\nstderr: " << run.child.err;
  EXPECT_EQ(run.child.exit_code, c.status);

  std::vector<int> blocks = NonBlankBlocks(d, image);
  std::string err = "Making Image.\r" + ConnectingLine(d) + ReadyBanner(d);
  if (c.fault.step == Step::kBlockReply || c.status == 0) {
    std::erase_if(blocks, [&](int k) { return c.status != 0 && k > c.fault.index; });
    err += "writing..\n" + ProgressLines(d, blocks);
  } else {
    blocks.clear();
  }
  err += c.status == 0 ? "\nEEPROM Writing is successed.\n" : c.err_tail;
  EXPECT_EQ(run.child.err, TextMode(err));
  EXPECT_EQ(run.child.out, TextMode(c.out));

  const Line line = SplitLine(run.chip.received);
  EXPECT_EQ(line.zeros % kBurstBytes, 0u);
  EXPECT_GE(line.zeros, kBurstBytes);
  Bytes expected = TransferBytes(d);
  const Bytes sent = BlockBytes(d, image, blocks);
  expected.insert(expected.end(), sent.begin(), sent.end());
  EXPECT_EQ(FirstDifference(line.rest, expected), "");
  if (c.status == 0) {
    EXPECT_EQ(FirstDifference(run.chip.flash, image), "");
  }
  EXPECT_EQ(run.image_left, c.fault.kind == Kind::kSilent);
  ExpectDcbSettingsRestored(run.chip);
}

INSTANTIATE_TEST_SUITE_P(Wine, WineTest, testing::ValuesIn(WineCases()), CaseName<WineCase>);

}  // namespace
}  // namespace vexlo::hosttest
