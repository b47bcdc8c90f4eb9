// The real vexloa, vexlob and vexloc, run as child processes against the fake chip on a pty:
// every byte on the line, both console streams byte for byte, the exit status, the ROM image
// file, and the port's line settings before and after the run.
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "download_model.h"
#include "gtest/gtest.h"
#include "host_run.h"

namespace vexlo::hosttest {
namespace {

namespace fs = std::filesystem;
using Kind = Fault::Kind;

constexpr int kFailureStatus = 255;  // exit(-1)
const std::string kMakingImage = "Making Image.\r";
const std::string kTransferDone = "EEPROM writing program transfer successed.\n";
const std::string kWritingLine = "writing..\n";
const std::string kSuccess = "\nEEPROM Writing is successed.\n";

// Test names in place of gtest's byte dump of a case.
template <typename Case>
requires requires(Case c) { c.name; }
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

template <typename Case>
std::string CaseName(const testing::TestParamInfo<Case>& param) {
  return param.param.name;
}

std::string ProgramPath(const Deliverable& d) {
  if (&d == &kVexloa) return VEXLOA_PATH;
  if (&d == &kVexlob) return VEXLOB_PATH;
  return VEXLOC_PATH;
}

HostRunSpec SpecFor(const Deliverable& d, std::vector<std::string> args, std::string srec) {
  HostRunSpec spec;
  spec.command = {ProgramPath(d)};
  spec.args = std::move(args);
  spec.srec_text = std::move(srec);
  spec.script = ScriptFor(d);
  spec.image_name = ImageName(d);
  return spec;
}

void ExpectEnded(const HostRun& run, int status) {
  ASSERT_TRUE(run.child.exited) << DescribeEnd(run.child) << "\nstderr so far: " << run.child.err;
  EXPECT_EQ(run.child.exit_code, status);
}

void ExpectPortRestored(const HostRun& run) {
  EXPECT_EQ(DescribeTermiosChange(run.chip.before, run.chip.after), "")
      << "the port's line settings after the run differ from those before it";
}

void ExpectPortUntouched(const HostRun& run) {
  EXPECT_EQ(run.chip.received.size(), 0u) << "bytes were sent on the line";
  EXPECT_FALSE(run.chip.during.has_value());
  ExpectPortRestored(run);
}

// Line settings while the host holds the port: 19200 bit/s, 8N1, raw in both directions (nothing
// added, dropped or translated), no flow control, and the port held exclusively.
void ExpectLineSettings(const HostRun& run) {
  ASSERT_TRUE(run.chip.during.has_value());
  const termios& t = *run.chip.during;
  EXPECT_EQ(cfgetospeed(&t), speed_t{B19200});
  EXPECT_EQ(cfgetispeed(&t), speed_t{B19200});
  EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t{CS8});
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ISTRIP | INLCR | IGNCR | ICRNL | PARMRK | IUCLC), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_TRUE(run.chip.exclusive_during) << "the port was not opened exclusively (TIOCEXCL)";
}

// ---------------------------------------------------------------------------------------------
// Runs that end before a byte goes on the line.

struct EarlyEnd {
  const char* name;
  const Deliverable* d;
  std::vector<std::string> args;
  std::string srec;
  std::string err;  // the whole of standard error
  std::function<void(const fs::path&, const std::string&)> prepare;
  std::function<void(const fs::path&)> inspect;
};

const std::string kLongName(300, 'n');
const std::string kOneRecord = SRecordFile({{1, 0x0100, {1, 2, 3}}});

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<EarlyEnd> EarlyEnds() {
  const std::string kNoPort = "/nonexistent/ttyVX0";
  const auto make_dir = [](const fs::path& dir, const std::string&) {
    fs::create_directory(dir / "vexlob.bin");
  };
  const auto dir_stays = [](const fs::path& dir) {
    EXPECT_TRUE(fs::is_directory(dir / "vexlob.bin")) << "the host removed a directory";
  };
  const auto plain_file = [](const fs::path& dir, const std::string&) {
    WriteFile(dir / "notatty", "unchanged\n");
  };
  const auto plain_file_stays = [](const fs::path& dir) {
    EXPECT_EQ(ReadFile(dir / "notatty"), "unchanged\n");
  };
  return {
      {"UsageA", &kVexloa, {}, kOneRecord, UsageText(kVexloa)},
      {"UsageB", &kVexlob, {}, kOneRecord, UsageText(kVexlob)},
      {"UsageC", &kVexloc, {}, kOneRecord, UsageText(kVexloc)},
      {"ThreeArguments", &kVexloa, {"prog.mot", "{port}", "x"}, kOneRecord, "option error!!\n"},
      {"FourArguments",
       &kVexlob,
       {"prog.mot", "{port}", "-x", "/y"},
       kOneRecord,
       "option error!!\n"},
      {"CannotCreateImage",
       &kVexlob,
       {"prog.mot", "{port}"},
       kOneRecord,
       kMakingImage + "Can't create ROM Image file.\n",
       make_dir,
       dir_stays},
      {"FileNotFound",
       &kVexloc,
       {"missing.mot", "{port}"},
       kOneRecord,
       kMakingImage + "file not found!\n"},
      {"CannotOpenPort",
       &kVexloa,
       {"prog.mot", kNoPort},
       kOneRecord,
       kMakingImage + "Can't open " + kNoPort + ".\n"},
      {"CannotOpenDefaultPortCOM1",
       &kVexlob,
       {"prog.mot"},
       kOneRecord,
       kMakingImage + "Can't open COM1.\n"},
      {"CannotOpenLongPortName",
       &kVexloc,
       {"prog.mot", "/nonexistent/" + kLongName},
       kOneRecord,
       kMakingImage + "Can't open /nonexistent/" + kLongName + ".\n"},
      {"PlainFileRefusesSettings",
       &kVexloa,
       {"prog.mot", "notatty"},
       kOneRecord,
       kMakingImage,
       plain_file,
       plain_file_stays},
      {"DevNullRefusesSettings", &kVexlob, {"prog.mot", "/dev/null"}, kOneRecord, kMakingImage},
  };
}

class EarlyEndTest : public testing::TestWithParam<EarlyEnd> {};

TEST_P(EarlyEndTest, PrintsOneTextDeletesImageLeavesPortAlone) {
  const EarlyEnd& c = GetParam();
  HostRunSpec spec = SpecFor(*c.d, c.args, c.srec);
  spec.prepare = c.prepare;
  spec.inspect = c.inspect;
  const HostRun run = RunHost(spec);
  ExpectEnded(run, kFailureStatus);
  EXPECT_EQ(run.child.err, c.err);
  EXPECT_EQ(run.child.out, "");
  EXPECT_FALSE(run.image_left);
  ExpectPortUntouched(run);
}

INSTANTIATE_TEST_SUITE_P(Host, EarlyEndTest, testing::ValuesIn(EarlyEnds()), CaseName<EarlyEnd>);

// ---------------------------------------------------------------------------------------------
// Malformed data records end the run before the port is touched, naming the line.

struct BadRecord {
  const char* name;
  std::string srec;
  int line;
};

std::vector<BadRecord> BadRecords() {
  const std::string header = "S00600004844521B\n";
  const std::string good = "S1050000AABB95\n";
  std::string long_short = "S190" + std::string(4, '0');  // claims 141 data bytes, holds 130
  for (int i = 0; i < 130; ++i) long_short += "5A";
  return {
      {"CountNotHex", "S1G50000AABB95\n", 1},
      {"AddressNotHex", header + "S1050G00AABB95\n", 2},
      {"AddressWithHexPrefix", header + good + "S1050x10AABB95\n", 3},
      {"DataPairNotHex", "S1050000AAXB95\n", 1},
      {"LastDataPairNotHex", "S2060000100A+195\n", 1},
      {"CountBeyondToken", header + "S10A0000AABB95\n", 2},
      {"CountBeyondLongToken", long_short + "00\n", 1},
      {"S3AddressNotHex", "S3070000001GAABB95\n", 1},
      {"AfterBlankLinesAndBlanks", header + good + "\n   \t\n  S1050010AAZZ95\n", 5},
      {"CrLfLineEnds", "S00600004844521B\r\nS1050000AABB95\r\nS105001\r\n", 3},
      {"LastTokenWithoutLineEnd", header + good + "S10A0000AABB", 3},
      {"SecondOnALine", header + "S1050000AABB95 S105001Q0000AA\n", 2},
  };
}

class BadRecordTest : public testing::TestWithParam<BadRecord> {};

TEST_P(BadRecordTest, EndsRunBeforePortIsTouched) {
  const BadRecord& c = GetParam();
  const HostRun run = RunHost(SpecFor(kVexloa, {"prog.mot", "{port}"}, c.srec));
  ExpectEnded(run, kFailureStatus);
  EXPECT_EQ(run.child.err, kMakingImage + "Bad S-record at line " + std::to_string(c.line) + ".\n");
  EXPECT_EQ(run.child.out, "");
  EXPECT_FALSE(run.image_left);
  ExpectPortUntouched(run);
}

INSTANTIATE_TEST_SUITE_P(Host, BadRecordTest, testing::ValuesIn(BadRecords()), CaseName<BadRecord>);

// ---------------------------------------------------------------------------------------------
// Successful downloads.

// Checks a successful run: line, texts, flash, clean-up. `bursts` is the chip's answer delay.
void ExpectDownloaded(const HostRun& run, const Deliverable& d, const Bytes& image, int bursts) {
  ExpectEnded(run, 0);
  const std::vector<int> blocks = NonBlankBlocks(d, image);
  EXPECT_EQ(run.child.err, kMakingImage + ConnectingLine(d) + ReadyBanner(d) + kWritingLine +
                               ProgressLines(d, blocks) + kSuccess);
  EXPECT_EQ(run.child.out, kTransferDone);
  const Line line = SplitLine(run.chip.received);
  EXPECT_EQ(line.zeros % kBurstBytes, 0u);
  EXPECT_GE(line.zeros, static_cast<std::size_t>(bursts) * kBurstBytes);
  Bytes expected = TransferBytes(d);
  const Bytes block_bytes = BlockBytes(d, image, blocks);
  expected.insert(expected.end(), block_bytes.begin(), block_bytes.end());
  EXPECT_EQ(FirstDifference(line.rest, expected), "") << "bytes after the bursts of zeros";
  EXPECT_EQ(run.chip.blocks, blocks);
  EXPECT_EQ(FirstDifference(run.chip.flash, image), "") << "flash content";
  EXPECT_TRUE(run.chip.problems.empty()) << run.chip.problems.front();
  EXPECT_FALSE(run.image_left);
  ExpectLineSettings(run);
  ExpectPortRestored(run);
}

std::string Lower(std::string text) {
  for (std::size_t i = 1; i < text.size(); ++i) text[i] = static_cast<char>(std::tolower(text[i]));
  return text;
}

// A sparse image with the awkward records: lower-case digits, a wrong (even non-hexadecimal)
// checksum, a record longer than 256 characters, a later record overwriting an earlier byte,
// block 256 (0x01 0x00 on the line), the last block, a record running past the end of the image,
// one starting just past it, and a last record with no line end after it.
struct Sparse {
  std::string srec;
  std::vector<SRecord> records;  // what the file means, in file order
};

Sparse SparseFile(const Deliverable& d) {
  const std::uint32_t size = d.image_size, block = d.block_size;
  Bytes ramp(128);
  for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<std::uint8_t>(0x80 + i);
  const std::vector<SRecord> records = {
      {1, 0x0000, {0xde, 0xad, 0xbe, 0xef, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77}},
      {2, 3 * block + 7, ramp},  // 128 data bytes: a 270-character token
      {3, 0x0002, {0x5A}},       // overwrites byte 2 of the first record
      {2, (d.block_number_bytes == 2 ? 256 : 9) * block, {0x01, 0x02}},
      {3, size - block + 4, {0xC0, 0xC1}},  // last block
      {3, size - 1, Bytes(16, 0x3C)},       // one byte inside, 15 past the end
      {2, size, {0x99}},                    // starts past the end: skipped
      {1, 0x0040, {0x0F}},                  // wrong checksum
      {1, 0x0041, {0x1F}},                  // last, no line end
  };
  std::string srec = "S00600004844521B\n" + Lower(FormatSRecord(records[0])) + "\n";
  for (std::size_t i = 1; i + 2 < records.size(); ++i) srec += FormatSRecord(records[i]) + "\r\n";
  srec += FormatSRecord(records[7]).substr(0, 10) + "ZZ\n";
  srec += FormatSRecord(records[8]);
  return {srec, records};
}

TEST(HostDownload, SparseImageEachDeliverable) {
  for (const Deliverable* d : {&kVexloa, &kVexlob, &kVexloc}) {
    SCOPED_TRACE(d->program);
    const Sparse file = SparseFile(*d);
    HostRunSpec spec = SpecFor(*d, {"prog.mot", "{port}"}, file.srec);
    spec.script.answer_after_bursts = 3;
    spec.script.zeros_before_sync_ack = 2;
    ExpectDownloaded(RunHost(spec), *d, PlaceRecords(*d, file.records), 3);
  }
}

TEST(HostDownload, FullImageOneByteAndTwoByteBlockNumbers) {
  for (const Deliverable* d : {&kVexlob, &kVexloa}) {
    SCOPED_TRACE(d->program);
    const std::vector<SRecord> records = FullImageRecords(*d);
    const HostRun run = RunHost(SpecFor(*d, {"prog.mot", "{port}"}, SRecordFile(records)));
    ExpectDownloaded(run, *d, PlaceRecords(*d, records), 1);
  }
}

TEST(HostDownload, EmptyFileSendsNoBlock) {
  const HostRun run = RunHost(SpecFor(kVexloc, {"prog.mot", "{port}"}, ""));
  ExpectDownloaded(run, kVexloc, Bytes(kVexloc.image_size, 0xFF), 1);
}

// Both names are longer than 255 characters; the port is reached through a symlink to the pty.
TEST(HostDownload, LongNamesAndSymlinkedPort) {
  const std::string deep = std::string(120, 'd') + "/" + std::string(120, 'e');
  const std::string srec_name = deep + "/" + std::string(100, 's') + ".mot";
  const std::string port_name = deep + "/" + std::string(100, 'p');
  const std::vector<SRecord> records = {{1, 0x1234, {7, 8, 9}}};
  HostRunSpec spec = SpecFor(kVexlob, {srec_name, port_name}, "");
  spec.srec_name.clear();
  spec.prepare = [&](const fs::path& dir, const std::string& port) {
    fs::create_directories(dir / deep);
    WriteFile(dir / srec_name, SRecordFile(records));
    fs::create_symlink(port, dir / port_name);
  };
  ExpectDownloaded(RunHost(spec), kVexlob, PlaceRecords(kVexlob, records), 1);
}

// ---------------------------------------------------------------------------------------------
// Runs that fail once the chip has been reached.

enum class Reached { kConnecting, kReady, kWriting };
enum class Cut { kNothing, kZeros, kSync, kSizeHigh, kSizeLow, kProgram, kBlocks };

struct ChipFailure {
  const char* name;
  const Deliverable* d;
  int bursts;  // the chip's answer comes after this many bursts; 0: never
  Fault fault;
  const char* port_fault = "";  // VEXLO_PORT_FAULT for the fault shim, "" without it
  Reached reached;
  std::string err_tail;  // standard error after what `reached` implies
  std::string out_tail;  // standard output after what `reached` implies
  bool image_left;
  Cut cut;                 // the host's last bytes on the line
  int through_block = -1;  // for Cut::kBlocks: the last block sent
};

// Blocks 0, 1 and 5 of any profile hold data.
std::vector<SRecord> ThreeBlocks(const Deliverable& d) {
  return {{1, 0, {0x10, 0x11}}, {1, d.block_size + 3, {0x20}}, {2, 5 * d.block_size, {0x50}}};
}

std::uint8_t NotWriterByte(const Deliverable& d, int i) {
  return static_cast<std::uint8_t>(~(*d.writer)[static_cast<std::size_t>(i)]);
}

std::vector<ChipFailure> ChipFailures() {
  const std::string timeout = "read timeout\n";
  return {
      {"NoAnswer",
       &kVexloa,
       0,
       {},
       "",
       Reached::kConnecting,
       AbortLine(kVexloa),
       "",
       false,
       Cut::kZeros},
      {"WrongFirstByte",
       &kVexlob,
       1,
       {Kind::kWrongByte, Step::kAnswer, 0, 0xFF},
       "",
       Reached::kConnecting,
       "H8 data FF ignore!\n",
       "",
       true,
       Cut::kZeros},
      {"WrongByteAfterSync",
       &kVexloc,
       2,
       {Kind::kWrongByte, Step::kSyncAck, 0, 0x55},
       "",
       Reached::kConnecting,
       "H8 data 55 ignore!\n",
       "",
       true,
       Cut::kSync},
      {"WrongSizeHighEcho",
       &kVexloa,
       1,
       {Kind::kWrongByte, Step::kEcho, 0, 0x05},
       "",
       Reached::kReady,
       "",
       "EEPROM bin adrs h failed!\n",
       false,
       Cut::kSizeHigh},
      {"WrongSizeLowEcho",
       &kVexlob,
       1,
       {Kind::kWrongByte, Step::kEcho, 1, 0x80},
       "",
       Reached::kReady,
       "",
       "EEPROM bin adrs l failed!\n",
       false,
       Cut::kSizeLow},
      {"WrongDataEchoAt0",
       &kVexloc,
       1,
       {Kind::kWrongByte, Step::kEcho, 2, NotWriterByte(kVexloc, 0)},
       "",
       Reached::kReady,
       "",
       "EEPROM bin data failed!\n",
       false,
       Cut::kProgram},
      {"WrongDataEchoAt1023",
       &kVexloa,
       1,
       {Kind::kWrongByte, Step::kEcho, 2 + 1023, NotWriterByte(kVexloa, 1023)},
       "",
       Reached::kReady,
       "",
       "EEPROM bin data failed!\n",
       false,
       Cut::kProgram},
      {"TransferNotAcknowledged",
       &kVexlob,
       1,
       {Kind::kWrongByte, Step::kTransferAck, 0, 0x55},
       "",
       Reached::kReady,
       "",
       "EEPROM writing program transfer failed!\n",
       false,
       Cut::kProgram},
      {"BlockRefused",
       &kVexloa,
       1,
       {Kind::kWrongByte, Step::kBlockReply, 1, 'F'},
       "",
       Reached::kWriting,
       "\nEEPROM Writing is failed.(F)\n",
       "",
       false,
       Cut::kBlocks,
       1},
      {"FirstBlockRefusedOtherByte",
       &kVexlob,
       1,
       {Kind::kWrongByte, Step::kBlockReply, 0, 's'},
       "",
       Reached::kWriting,
       "\nEEPROM Writing is failed.(s)\n",
       "",
       false,
       Cut::kBlocks,
       0},
      {"SilentDuringEchoes",
       &kVexloc,
       1,
       {Kind::kSilent, Step::kEcho, 2 + 512},
       "",
       Reached::kReady,
       timeout,
       "",
       true,
       Cut::kProgram},
      {"SilentAtBlockReply",
       &kVexlob,
       1,
       {Kind::kSilent, Step::kBlockReply, 5},
       "",
       Reached::kWriting,
       timeout,
       "",
       true,
       Cut::kBlocks,
       5},
      {"BurstWriteFails",
       &kVexloa,
       1,
       {},
       "write",
       Reached::kConnecting,
       "write error\n",
       "",
       false,
       Cut::kNothing},
      {"ByteWriteFails",
       &kVexlob,
       1,
       {},
       "write-after-sync",
       Reached::kReady,
       "write error\n",
       "",
       true,
       Cut::kSync},
      {"PollFails",
       &kVexloc,
       1,
       {},
       "read",
       Reached::kConnecting,
       "read error\n",
       "",
       true,
       Cut::kZeros},
      {"WaitFails",
       &kVexloa,
       1,
       {},
       "read-after-sync",
       Reached::kConnecting,
       "read error\n",
       "",
       true,
       Cut::kSync},
  };
}

// What the host has put on the line after its zeros when it stops at `c.cut`.
Bytes ExpectedRest(const ChipFailure& c, const Bytes& image) {
  const Bytes transfer = TransferBytes(*c.d);
  const std::size_t kept[] = {0, 0, 1, 2, 3, transfer.size(), transfer.size()};
  Bytes rest(transfer.begin(), transfer.begin() + kept[static_cast<int>(c.cut)]);
  if (c.cut == Cut::kBlocks) {
    std::vector<int> blocks = NonBlankBlocks(*c.d, image);
    std::erase_if(blocks, [&](int k) { return k > c.through_block; });
    const Bytes sent = BlockBytes(*c.d, image, blocks);
    rest.insert(rest.end(), sent.begin(), sent.end());
  }
  return rest;
}

class ChipFailureTest : public testing::TestWithParam<ChipFailure> {};

TEST_P(ChipFailureTest, PrintsTextRestoresPortAndCleansUp) {
  const ChipFailure& c = GetParam();
  const Deliverable& d = *c.d;
  const std::vector<SRecord> records = ThreeBlocks(d);
  const Bytes image = PlaceRecords(d, records);
  HostRunSpec spec = SpecFor(d, {"prog.mot", "{port}"}, SRecordFile(records));
  spec.script.answer_after_bursts = c.bursts;
  spec.script.zeros_before_sync_ack = 3;  // to be skipped by the host, whatever comes next
  spec.script.fault = c.fault;
  if (*c.port_fault != '\0') {
    spec.extra_env = {std::string("LD_PRELOAD=") + PORT_FAULT_SHIM,
                      std::string("VEXLO_PORT_FAULT=") + c.port_fault,
                      "ASAN_OPTIONS=verify_asan_link_order=0"};
  }
  const HostRun run = RunHost(spec);
  ExpectEnded(run, kFailureStatus);

  std::string err = kMakingImage + ConnectingLine(d), out;
  if (c.reached >= Reached::kReady) err += ReadyBanner(d);
  if (c.reached == Reached::kWriting) {
    std::vector<int> blocks = NonBlankBlocks(d, image);
    std::erase_if(blocks, [&](int k) { return k > c.through_block; });
    err += kWritingLine + ProgressLines(d, blocks);
    out = kTransferDone;
  }
  EXPECT_EQ(run.child.err, err + c.err_tail);
  EXPECT_EQ(run.child.out, out + c.out_tail);
  EXPECT_EQ(run.image_left, c.image_left) << "ROM image file " << ImageName(d);

  const Line line = SplitLine(run.chip.received);
  if (c.cut == Cut::kNothing) {
    EXPECT_EQ(line.zeros, 0u);
  } else if (c.bursts == 0) {
    EXPECT_EQ(line.zeros, kMaxBursts * kBurstBytes);
  } else {
    EXPECT_EQ(line.zeros % kBurstBytes, 0u);
    EXPECT_GE(line.zeros, static_cast<std::size_t>(c.bursts) * kBurstBytes);
    EXPECT_LE(line.zeros, kMaxBursts * kBurstBytes);
  }
  EXPECT_EQ(FirstDifference(line.rest, ExpectedRest(c, image)), "") << "bytes after the zeros";
  ExpectPortRestored(run);
}

INSTANTIATE_TEST_SUITE_P(Host, ChipFailureTest, testing::ValuesIn(ChipFailures()),
                         CaseName<ChipFailure>);

}  // namespace
}  // namespace vexlo::hosttest
