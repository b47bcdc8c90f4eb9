#include "fake_chip.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <system_error>

namespace vexlo::hosttest {
namespace {

constexpr std::uint8_t kConnectAnswer = 0x00;
constexpr std::uint8_t kErasedByte = 0xFF;
constexpr std::size_t kReadChunkBytes = 4096;

[[noreturn]] void throw_errno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

std::string hex_byte(std::uint8_t byte) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", byte);
  return text;
}

}  // namespace

FakeChip::FakeChip(ChipScript script) : script_(script) {
  master_fd_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_fd_ < 0) throw_errno("posix_openpt");
  if (grantpt(master_fd_) != 0 || unlockpt(master_fd_) != 0) throw_errno("grantpt/unlockpt");
  char name[128];
  if (ptsname_r(master_fd_, name, sizeof name) != 0) throw_errno("ptsname_r");
  port_path_ = name;
  slave_fd_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_fd_ < 0) throw_errno("open " + port_path_);
  if (fcntl(master_fd_, F_SETFL, O_NONBLOCK) != 0) throw_errno("fcntl O_NONBLOCK");
  if (pipe2(wake_pipe_, O_CLOEXEC) != 0) throw_errno("pipe2");
  set_starting_settings();
  if (tcgetattr(master_fd_, &record_.before) != 0) throw_errno("tcgetattr");
  record_.flash.assign(script_.image_size, kErasedByte);
  thread_ = std::thread([this] { run(); });
}

// A terminal's usual settings (canonical input, CR/LF translation, output processing, XON/XOFF)
// with unusual values where a host that puts back only part of them would show: 9600 bit/s,
// parity, two stop bits, odd VMIN/VTIME. Echo is off, so that bytes the chip sends after the host
// has put the settings back are not echoed into the chip's own input.
void FakeChip::set_starting_settings() {
  termios t{};
  if (tcgetattr(slave_fd_, &t) != 0) throw_errno("tcgetattr");
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ECHOCTL | ECHOKE);
  t.c_cflag |= PARENB | CSTOPB;
  t.c_cc[VMIN] = 3;
  t.c_cc[VTIME] = 7;
  cfsetispeed(&t, B9600);
  cfsetospeed(&t, B9600);
  if (tcsetattr(slave_fd_, TCSANOW, &t) != 0) throw_errno("tcsetattr");
}

FakeChip::~FakeChip() {
  if (thread_.joinable()) {
    stopping_ = true;
    (void)!write(wake_pipe_[1], "x", 1);
    thread_.join();
  }
  for (int fd : {master_fd_, slave_fd_, wake_pipe_[0], wake_pipe_[1]}) {
    if (fd >= 0) close(fd);
  }
}

ChipRecord FakeChip::finish() {
  stopping_ = true;
  (void)!write(wake_pipe_[1], "x", 1);
  if (thread_.joinable()) thread_.join();
  if (tcgetattr(master_fd_, &record_.after) != 0) problem("tcgetattr after the run failed");
  return std::move(record_);
}

bool FakeChip::wait_for_bytes(std::size_t count, std::chrono::milliseconds limit) {
  std::unique_lock lock(count_mutex_);
  return count_changed_.wait_for(lock, limit, [&] { return received_count_ >= count; });
}

void FakeChip::run() {
  std::vector<std::uint8_t> chunk(kReadChunkBytes);
  while (!stopping_) {
    pollfd fds[2] = {{master_fd_, POLLIN, 0}, {wake_pipe_[0], POLLIN, 0}};
    timespec wait{};
    timespec* timeout = nullptr;  // sleep until the host sends or finish() wakes us
    if (!pending_out_.empty()) {
      const auto now = std::chrono::steady_clock::now();
      if (now >= release_at_) {
        fds[0].events |= POLLOUT;
      } else {
        const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(release_at_ - now);
        wait.tv_sec = static_cast<time_t>(left.count() / 1000000000);
        wait.tv_nsec = static_cast<long>(left.count() % 1000000000);
        timeout = &wait;
      }
    }
    if (ppoll(fds, 2, timeout, nullptr) < 0 && errno != EINTR) {
      problem("ppoll failed");
      return;
    }
    if (fds[1].revents != 0) return;
    if (fds[0].revents & POLLIN) {
      const ssize_t n = read(master_fd_, chunk.data(), chunk.size());
      for (ssize_t i = 0; i < n; ++i) take(chunk[static_cast<std::size_t>(i)]);
      if (n > 0) {
        std::lock_guard lock(count_mutex_);
        received_count_ += static_cast<std::size_t>(n);
        count_changed_.notify_all();
      }
    }
    flush_output();
  }
}

void FakeChip::take(std::uint8_t byte) {
  if (record_.received.empty()) note_first_byte();
  record_.received.push_back(byte);
  switch (phase_) {
    case Phase::kSync:
    case Phase::kAwaitSyncByte:
      take_sync(byte);
      break;
    case Phase::kEcho:
      take_echo(byte);
      break;
    case Phase::kBlocks:
      take_block_byte(byte);
      break;
  }
}

// The boot program measures the zeros to find the host's bit rate, answers 0x00, and then waits
// for 0x55 (more zeros may still come: bursts the host wrote before it saw the answer).
void FakeChip::take_sync(std::uint8_t byte) {
  if (byte == 0) {
    ++zeros_seen_;
    const int bursts = script_.answer_after_bursts;
    if (!answered_ && bursts > 0 && zeros_seen_ >= static_cast<std::size_t>(bursts) * kBurstBytes) {
      answered_ = true;
      phase_ = Phase::kAwaitSyncByte;
      send(Step::kAnswer, 0, kConnectAnswer);
    }
    return;
  }
  if (byte == kSyncByte && phase_ == Phase::kAwaitSyncByte) {
    for (int i = 0; i < script_.zeros_before_sync_ack && !silent_; ++i) pending_out_.push_back(0);
    send(Step::kSyncAck, 0, kBootAck);
    phase_ = Phase::kEcho;
    return;
  }
  problem("byte " + hex_byte(byte) + " while connecting, after " + std::to_string(zeros_seen_) +
          " zeros");
}

// Echo 0 and 1 are the program size (high byte first); then one echo per program byte; then the
// boot program acknowledges and starts the writing program.
void FakeChip::take_echo(std::uint8_t byte) {
  const int index = echoes_sent_++;
  if (index == 0) size_high_ = byte;
  if (index == 1) program_size_ = size_high_ << 8 | byte;
  send(Step::kEcho, index, byte);
  if (index >= 1 && echoes_sent_ == 2 + program_size_) {
    send(Step::kTransferAck, 0, kBootAck);
    phase_ = Phase::kBlocks;
  }
}

void FakeChip::take_block_byte(std::uint8_t byte) {
  block_.push_back(byte);
  const std::size_t number_bytes = static_cast<std::size_t>(script_.block_number_bytes);
  if (block_.size() == number_bytes + script_.block_size) store_block();
}

void FakeChip::store_block() {
  const std::size_t number_bytes = static_cast<std::size_t>(script_.block_number_bytes);
  int number = 0;
  for (std::size_t i = 0; i < number_bytes; ++i) number = number << 8 | block_[i];
  const std::size_t offset = static_cast<std::size_t>(number) * script_.block_size;
  if (offset + script_.block_size > script_.image_size) {
    problem("block number " + std::to_string(number) + " lies beyond the flash");
  } else {
    std::copy(block_.begin() + static_cast<std::ptrdiff_t>(number_bytes), block_.end(),
              record_.flash.begin() + static_cast<std::ptrdiff_t>(offset));
  }
  record_.blocks.push_back(number);
  block_.clear();
  release_at_ = std::chrono::steady_clock::now() + script_.reply_delay;
  send(Step::kBlockReply, number, kBlockAccepted);
}

void FakeChip::send(Step step, int index, std::uint8_t proper) {
  if (silent_) return;
  const Fault& fault = script_.fault;
  const bool indexed = step == Step::kEcho || step == Step::kBlockReply;
  const bool here =
      fault.kind != Fault::Kind::kNone && fault.step == step && (!indexed || fault.index == index);
  if (here && fault.kind == Fault::Kind::kSilent) {
    silent_ = true;
    return;
  }
  pending_out_.push_back(here ? fault.byte : proper);
}

void FakeChip::flush_output() {
  if (pending_out_.empty() || std::chrono::steady_clock::now() < release_at_) return;
  const ssize_t n = write(master_fd_, pending_out_.data(), pending_out_.size());
  if (n > 0) pending_out_.erase(pending_out_.begin(), pending_out_.begin() + n);
  if (n < 0 && errno != EAGAIN && errno != EINTR) {
    problem("write to the pty master failed, errno " + std::to_string(errno));
    pending_out_.clear();
  }
}

void FakeChip::note_first_byte() {
  termios now{};
  if (tcgetattr(master_fd_, &now) == 0) record_.during = now;
  int exclusive = 0;
  if (ioctl(slave_fd_, TIOCGEXCL, &exclusive) == 0) record_.exclusive_during = exclusive != 0;
}

void FakeChip::problem(std::string text) { record_.problems.push_back(std::move(text)); }

std::string DescribeTermiosChange(const termios& from, const termios& to) {
  std::string out;
  auto field = [&out](const char* name, unsigned long a, unsigned long b) {
    if (a == b) return;
    char text[96];
    std::snprintf(text, sizeof text, "%s%s 0x%lx -> 0x%lx", out.empty() ? "" : ", ", name, a, b);
    out += text;
  };
  field("c_iflag", from.c_iflag, to.c_iflag);
  field("c_oflag", from.c_oflag, to.c_oflag);
  field("c_cflag", from.c_cflag, to.c_cflag);
  field("c_lflag", from.c_lflag, to.c_lflag);
  field("c_line", from.c_line, to.c_line);
  field("input speed", cfgetispeed(&from), cfgetispeed(&to));
  field("output speed", cfgetospeed(&from), cfgetospeed(&to));
  for (int i = 0; i < NCCS; ++i) {
    const std::string name = "c_cc[" + std::to_string(i) + "]";
    field(name.c_str(), from.c_cc[i], to.c_cc[i]);
  }
  return out;
}

}  // namespace vexlo::hosttest
