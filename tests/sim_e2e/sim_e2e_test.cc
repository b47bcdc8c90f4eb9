// The writers against the simulated chips, from the S-record file to programmed flash: the real
// vexloa, vexloc and vexlob (Linux builds, or the Windows builds under wine) talk through a
// pseudo-terminal to `h8sim serve`, which runs the boot exchange and the real writing programs.
// Each case checks both console streams byte for byte, the exit status, the ROM image file left
// or deleted, the line's settings put back, and the flash the chip ends with; the chip's faults
// drive every failure a chip can cause.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "download_model.h"
#include "sim_session.h"

namespace vexlo::simtest {
namespace {

namespace fs = std::filesystem;
using hosttest::Deliverable;

constexpr int kFailed = 255;  // exit(-1)
const std::string kMakingImage = "Making Image.\r";
const std::string kTransferDone = "EEPROM writing program transfer successed.\n";
const std::string kWriting = "writing..\n";
const std::string kSuccessText = "\nEEPROM Writing is successed.\n";

struct Chip {
  const Deliverable* d;
  const char* name;  // h8sim's --chip
  const char* greeting;
};
const Chip kA{&hosttest::kVexloa, "3067f", "Hello from the H8/3067F!\r\n"};
const Chip kC{&hosttest::kVexloc, "3068f", "Hello from the H8/3068F!\r\n"};
const Chip kB{&hosttest::kVexlob, "3664f", "Hello from the H8/3664F!\r\n"};

enum class Image { kExample, kSparse, kFull };

enum class Ending {
  kSuccess,
  kNotReady,        // no answer to the zeros: the abort line
  kWrongFirstByte,  // first-byte=3F
  kWrongAfter55,    // after-55=55
  kSizeHighEcho,
  kSizeLowEcho,
  kDataEcho,
  kNotAcknowledged,
  kBlockRefused,  // a byte that is not erased: 'F' for the middle block of the sparse image
  kLineDead,      // a byte of the first block lost: the chip waits for one more, the host times out
  kHangUp,        // the line closes after the first block
};

struct Case {
  std::string name;
  const Chip* chip;
  Image image;
  Ending ending;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// The sparse image: data in block 0, across two middle blocks, and at the end of the flash.
std::vector<hosttest::SRecord> sparse_records(const Deliverable& d) {
  hosttest::Bytes middle(40);
  for (std::size_t i = 0; i < middle.size(); ++i) middle[i] = static_cast<std::uint8_t>(0x40 + i);
  return {{1, 0x0000, {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77}},
          {2, 0x2040, middle},
          {3, d.image_size - 4, {0xDE, 0xAD, 0xBE, 0xEF}}};
}

constexpr std::uint32_t kStuckAddress = 0x2045;  // inside the sparse image's middle data

std::string srec_text(const Case& c) {
  const Deliverable& d = *c.chip->d;
  switch (c.image) {
    case Image::kExample:
      return read_file(fs::path(EXAMPLES_DIR) / ("hello-" + std::string(c.chip->name) + ".srec"));
    case Image::kSparse:
      return hosttest::SRecordFile(sparse_records(d));
    case Image::kFull:
      return hosttest::SRecordFile(hosttest::FullImageRecords(d));
  }
  return {};
}

hosttest::Bytes expected_flash(const Case& c) {
  const Deliverable& d = *c.chip->d;
  switch (c.image) {
    case Image::kExample: {
      const std::string bin =
          read_file(fs::path(EXAMPLES_DIR) / ("hello-" + std::string(c.chip->name) + ".bin"));
      return {bin.begin(), bin.end()};
    }
    case Image::kSparse:
      return hosttest::PlaceRecords(d, sparse_records(d));
    case Image::kFull:
      return hosttest::PlaceRecords(d, hosttest::FullImageRecords(d));
  }
  return {};
}

// Host bytes counted from the 0x55 (as the simulator's faults count them) up to the end of the
// first block sent, or up to its `data_byte`th data byte.
std::uint64_t first_block_byte(const Deliverable& d, std::uint32_t data_byte) {
  return 1 + 2 + kWriterImageSize + static_cast<std::uint64_t>(d.block_number_bytes) + data_byte;
}

std::vector<std::string> faults_for(const Case& c) {
  const Deliverable& d = *c.chip->d;
  switch (c.ending) {
    case Ending::kSuccess:
      return {};
    case Ending::kNotReady:
      return {"no-answer"};
    case Ending::kWrongFirstByte:
      return {"first-byte=3F"};
    case Ending::kWrongAfter55:
      return {"after-55=55"};
    case Ending::kSizeHighEcho:
      return {"echo-size-high"};
    case Ending::kSizeLowEcho:
      return {"echo-size-low"};
    case Ending::kDataEcho:
      return {"echo-data=1024"};
    case Ending::kNotAcknowledged:
      return {"no-ack"};
    case Ending::kBlockRefused:
      return {"stuck-zero=" + std::to_string(kStuckAddress)};
    case Ending::kLineDead:
      return {"drop-byte=" + std::to_string(first_block_byte(d, 5))};
    case Ending::kHangUp:
      return {"hangup-after=" + std::to_string(first_block_byte(d, d.block_size))};
  }
  return {};
}

struct Expected {
  std::string out, err;
  int status = kFailed;
  bool image_left = false;
};

Expected expected_for(const Case& c, const hosttest::Bytes& image) {
  const Deliverable& d = *c.chip->d;
  const std::vector<int> blocks = hosttest::NonBlankBlocks(d, image);
  const std::string connected =
      kMakingImage + hosttest::ConnectingLine(d) + hosttest::ReadyBanner(d);
  const std::string first_block = connected + kWriting + hosttest::ProgressLines(d, {blocks[0]});
  switch (c.ending) {
    case Ending::kSuccess:
      return {kTransferDone,
              connected + kWriting + hosttest::ProgressLines(d, blocks) + kSuccessText, 0};
    case Ending::kNotReady:
      return {"", kMakingImage + hosttest::ConnectingLine(d) + hosttest::AbortLine(d)};
    case Ending::kWrongFirstByte:
      return {"", kMakingImage + hosttest::ConnectingLine(d) + "H8 data 3F ignore!\n", kFailed,
              true};
    case Ending::kWrongAfter55:
      return {"", kMakingImage + hosttest::ConnectingLine(d) + "H8 data 55 ignore!\n", kFailed,
              true};
    case Ending::kSizeHighEcho:
      return {"EEPROM bin adrs h failed!\n", connected};
    case Ending::kSizeLowEcho:
      return {"EEPROM bin adrs l failed!\n", connected};
    case Ending::kDataEcho:
      return {"EEPROM bin data failed!\n", connected};
    case Ending::kNotAcknowledged:
      return {"EEPROM writing program transfer failed!\n", connected};
    case Ending::kBlockRefused: {
      const int refused = static_cast<int>(kStuckAddress / d.block_size);
      const std::vector<int> sent{blocks[0], refused};
      return {kTransferDone, connected + kWriting + hosttest::ProgressLines(d, sent) +
                                 "\nEEPROM Writing is failed.(F)\n"};
    }
    case Ending::kLineDead:
      return {kTransferDone, first_block + "read timeout\n", kFailed, true};
    case Ending::kHangUp:
      return {kTransferDone, first_block + "read error\n", kFailed, true};
  }
  return {};
}

#ifdef VEXLO_UNDER_WINE
// The Windows programs write their standard streams in text mode: each line feed becomes CR LF.
std::string console(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

SessionSpec host_part(const Case& c) {
  SessionSpec spec;
  spec.host = {WINE_PROGRAM, std::string(VEXLO_WINDOWS_BIN_DIR) + "/" + c.chip->d->program + ".exe",
               "{srec}", "COM9"};
  spec.host_env = {"WINEPREFIX=" WINE_PREFIX, "WINEDEBUG=-all"};
  spec.prepare = [](const std::string& link) {
    const fs::path com = fs::path(WINE_PREFIX) / "dosdevices" / "com9";
    fs::remove(com);
    fs::create_symlink(link, com);
  };
  return spec;
}

// Wine writes back only what a DCB holds: bit rate, character size, parity and stop bits.
void expect_line_restored(const Session& s) {
  ASSERT_TRUE(s.before && s.after);
  constexpr tcflag_t kFrame = CSIZE | PARENB | PARODD | CSTOPB;
  EXPECT_EQ(cfgetospeed(&*s.after), cfgetospeed(&*s.before));
  EXPECT_EQ(s.after->c_cflag & kFrame, s.before->c_cflag & kFrame);
}
#else
std::string console(const std::string& text) { return text; }

SessionSpec host_part(const Case& c) {
  SessionSpec spec;
  const std::string program = c.chip->d->program;
  spec.host = {program == "vexloa"   ? VEXLOA_PATH
               : program == "vexloc" ? VEXLOC_PATH
                                     : VEXLOB_PATH,
               "{srec}", "{port}"};
  return spec;
}

void expect_line_restored(const Session& s) {
  ASSERT_TRUE(s.before && s.after);
  EXPECT_EQ(hosttest::DescribeTermiosChange(*s.before, *s.after), "");
}
#endif

// The programmed example firmware runs from the flash the chip ends with: `h8sim run` of the
// dump prints its greeting.
void expect_greeting(const Case& c, const hosttest::Bytes& flash) {
  hosttest::ScratchDir dir;
  std::ofstream(dir.path() / "flash.bin", std::ios::binary)
      .write(reinterpret_cast<const char*>(flash.data()),
             static_cast<std::streamsize>(flash.size()));
  hosttest::ChildSpec run;
  run.program = H8SIM_PATH;
  run.args = {"run", "--chip", c.chip->name, "--max-states", "100000000", "flash.bin"};
  run.working_dir = dir.path();
  const hosttest::ChildResult r = hosttest::RunChild(run);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, c.chip->greeting);
}

class SimulatedChip : public testing::TestWithParam<Case> {};

TEST_P(SimulatedChip, Run) {
  const Case& c = GetParam();
  const hosttest::Bytes image = expected_flash(c);
  ASSERT_FALSE(image.empty()) << "example firmware not built";
  SessionSpec spec = host_part(c);
  spec.h8sim = H8SIM_PATH;
  spec.chip = c.chip->name;
  spec.faults = faults_for(c);
  spec.srec_text = srec_text(c);
  spec.image_name = hosttest::ImageName(*c.chip->d);

  const Session s = RunSession(spec);
  ASSERT_EQ(s.problem, "");
  ASSERT_TRUE(s.host.exited) << hosttest::DescribeEnd(s.host) << "\nstderr: " << s.host.err;
  const Expected want = expected_for(c, image);
  EXPECT_EQ(s.host.err, console(want.err));
  EXPECT_EQ(s.host.out, console(want.out));
  EXPECT_EQ(s.host.exit_code, want.status);
  EXPECT_EQ(s.image_left, want.image_left) << "ROM image file left on disk";
  if (c.ending != Ending::kHangUp) expect_line_restored(s);

  ASSERT_TRUE(s.serve.exited) << "h8sim serve: " << hosttest::DescribeEnd(s.serve) << "\n"
                              << s.serve.err;
  EXPECT_EQ(s.serve.exit_code, 0) << s.serve.err;
  EXPECT_EQ(s.trace.find("MISUSE"), std::string::npos) << s.trace;
  EXPECT_EQ(s.trace.find("RESET"), std::string::npos) << s.trace;
  ASSERT_EQ(s.flash.size(), image.size());
  if (c.ending == Ending::kSuccess) {
    EXPECT_EQ(hosttest::FirstDifference(s.flash, image), "");
    if (c.image == Image::kExample) expect_greeting(c, s.flash);
  } else if (c.ending == Ending::kBlockRefused) {
    // Everything before the refused block is in place.
    const std::size_t end = kStuckAddress / c.chip->d->block_size * c.chip->d->block_size;
    EXPECT_EQ(hosttest::FirstDifference({s.flash.begin(), s.flash.begin() + end},
                                        {image.begin(), image.begin() + end}),
              "");
  }
}

std::vector<Case> cases() {
  std::vector<Case> all;
  const std::pair<Ending, const char*> failures[] = {
      {Ending::kNotReady, "NotReady"},
      {Ending::kWrongFirstByte, "WrongFirstByte"},
      {Ending::kWrongAfter55, "WrongByteAfter55"},
      {Ending::kSizeHighEcho, "SizeHighEcho"},
      {Ending::kSizeLowEcho, "SizeLowEcho"},
      {Ending::kDataEcho, "LastProgramByteEcho"},
      {Ending::kNotAcknowledged, "TransferNotAcknowledged"},
      {Ending::kBlockRefused, "BlockNotErased"},
      {Ending::kLineDead, "LineGoesDead"},
      {Ending::kHangUp, "LineHangsUp"},
  };
#ifdef VEXLO_UNDER_WINE
  // Wine's serial layer does not report a pseudo-terminal that hangs up as a failed read.
  constexpr bool kHangUpSeen = false;
#else
  constexpr bool kHangUpSeen = true;
#endif
  for (const Chip* chip : {&kA, &kC, &kB}) {
    const std::string p = chip->d->program;
    all.push_back({p + "_Example", chip, Image::kExample, Ending::kSuccess});
    all.push_back({p + "_Sparse", chip, Image::kSparse, Ending::kSuccess});
    all.push_back({p + "_Full", chip, Image::kFull, Ending::kSuccess});
    for (const auto& [ending, name] : failures) {
      if (ending == Ending::kHangUp && !kHangUpSeen) continue;
      all.push_back({p + "_" + name, chip, Image::kSparse, ending});
    }
  }
  return all;
}

std::string case_name(const testing::TestParamInfo<Case>& param) { return param.param.name; }

INSTANTIATE_TEST_SUITE_P(Writers, SimulatedChip, testing::ValuesIn(cases()), case_name);

}  // namespace
}  // namespace vexlo::simtest
