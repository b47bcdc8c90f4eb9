// The fake chip driven straight through its pty slave, so that a fault in the test equipment is
// not mistaken for a fault of the host programs.
#include "fake_chip.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>

#include "download_model.h"
#include "gtest/gtest.h"

namespace vexlo::hosttest {
namespace {

constexpr int kReplyWaitMs = 10000;

// The host's end of the line, reduced to what the tests need.
class Line {
 public:
  explicit Line(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {
    termios raw{};
    tcgetattr(fd_, &raw);
    cfmakeraw(&raw);
    tcsetattr(fd_, TCSANOW, &raw);
  }
  ~Line() { close(fd_); }
  bool ok() const { return fd_ >= 0; }
  void send(const Bytes& bytes) {
    ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), ssize_t(bytes.size()));
  }
  // The next `count` bytes, or fewer when the chip stays silent for kReplyWaitMs.
  Bytes receive(std::size_t count) {
    Bytes got;
    while (got.size() < count) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, kReplyWaitMs) <= 0) break;
      std::uint8_t chunk[2048];
      const ssize_t n = read(fd_, chunk, std::min(sizeof chunk, count - got.size()));
      if (n <= 0) break;
      got.insert(got.end(), chunk, chunk + n);
    }
    return got;
  }
  bool silent_for(int ms) {
    pollfd p{fd_, POLLIN, 0};
    return poll(&p, 1, ms) == 0;
  }
  int fd() const { return fd_; }

 private:
  int fd_;
};

Bytes Echoes(const Deliverable& d) {
  const Bytes transfer = TransferBytes(d);
  Bytes echoes(transfer.begin() + 1, transfer.end());
  echoes.push_back(kBootAck);
  return echoes;
}

// Boot handshake, program transfer and two blocks; the chip's flash holds the blocks at
// number x block size and it answers after the second burst only.
TEST(FakeChip, PlaysBootProgramAndWritingProgram) {
  ChipScript script = ScriptFor(kVexloa);
  script.answer_after_bursts = 2;
  script.zeros_before_sync_ack = 3;
  FakeChip chip(script);
  Line line(chip.port_path());
  ASSERT_TRUE(line.ok());

  line.send(Bytes(kBurstBytes, 0));
  EXPECT_TRUE(line.silent_for(50));
  line.send(Bytes(kBurstBytes, 0));
  EXPECT_EQ(line.receive(1), Bytes{0x00});
  line.send({kSyncByte});
  EXPECT_EQ(line.receive(4), (Bytes{0, 0, 0, kBootAck}));
  const Bytes transfer = TransferBytes(kVexloa);
  line.send(Bytes(transfer.begin() + 1, transfer.end()));
  EXPECT_EQ(line.receive(1027), Echoes(kVexloa));

  Bytes image(kVexloa.image_size, 0xFF);
  for (int i = 0; i < 32; ++i) image[0x2020 + i] = static_cast<std::uint8_t>(i);  // block 0x101
  image[0x1FFFF] = 0x12;                                                          // last block
  const std::vector<int> blocks{0x101, 0xFFF};
  const Bytes sent = BlockBytes(kVexloa, image, blocks);
  line.send(Bytes(sent.begin(), sent.begin() + 34));
  EXPECT_EQ(line.receive(1), Bytes{kBlockAccepted});
  line.send(Bytes(sent.begin() + 34, sent.end()));
  EXPECT_EQ(line.receive(1), Bytes{kBlockAccepted});

  const ChipRecord record = chip.finish();
  EXPECT_TRUE(record.problems.empty()) << record.problems.front();
  EXPECT_EQ(record.blocks, blocks);
  EXPECT_EQ(FirstDifference(record.flash, image), "");
  EXPECT_EQ(record.received.size(), 2 * kBurstBytes + 1 + 1026 + sent.size());
  ASSERT_TRUE(record.during.has_value());
  EXPECT_EQ(cfgetospeed(&*record.during), cfgetospeed(&record.after));
}

// Each fault strikes exactly where it is placed and nowhere else.
TEST(FakeChip, FaultsStrikeWherePlaced) {
  struct Case {
    Fault fault;
    Bytes expected_echoes;
  };
  Bytes wrong_data = Echoes(kVexlob);
  wrong_data[2 + 5] = 0x77;
  const Bytes all_echoes = Echoes(kVexlob);
  const Bytes silent_from_3(all_echoes.begin(), all_echoes.begin() + 3);
  const Case cases[] = {
      {{Fault::Kind::kWrongByte, Step::kEcho, 2 + 5, 0x77}, wrong_data},
      {{Fault::Kind::kSilent, Step::kEcho, 3, 0}, silent_from_3},
  };
  for (const Case& c : cases) {
    ChipScript script = ScriptFor(kVexlob);
    script.fault = c.fault;
    FakeChip chip(script);
    Line line(chip.port_path());
    line.send(Bytes(kBurstBytes, 0));
    EXPECT_EQ(line.receive(1), Bytes{0});
    line.send({kSyncByte});
    EXPECT_EQ(line.receive(1), Bytes{kBootAck});
    const Bytes transfer = TransferBytes(kVexlob);
    line.send(Bytes(transfer.begin() + 1, transfer.end()));
    EXPECT_EQ(line.receive(c.expected_echoes.size()), c.expected_echoes);
    EXPECT_TRUE(line.silent_for(50));
  }
}

// A chip that never answers still takes everything the host writes, far more than a pty buffers.
TEST(FakeChip, DrainsTheLineWhenItNeverAnswers) {
  ChipScript script = ScriptFor(kVexloc);
  script.answer_after_bursts = 0;
  FakeChip chip(script);
  Line line(chip.port_path());
  fcntl(line.fd(), F_SETFL, O_NONBLOCK);
  const Bytes burst(kBurstBytes, 0);
  const std::size_t total = 1000 * kBurstBytes;
  std::size_t written = 0;
  while (written < total) {
    pollfd p{line.fd(), POLLOUT, 0};
    ASSERT_GT(poll(&p, 1, kReplyWaitMs), 0) << "line blocked after " << written << " bytes";
    const ssize_t n = write(line.fd(), burst.data(), std::min(burst.size(), total - written));
    if (n > 0) written += static_cast<std::size_t>(n);
  }
  ASSERT_TRUE(chip.wait_for_bytes(total, std::chrono::seconds(20)));
  const ChipRecord record = chip.finish();
  EXPECT_EQ(record.received.size(), total);
  EXPECT_TRUE(record.problems.empty());
}

}  // namespace
}  // namespace vexlo::hosttest
