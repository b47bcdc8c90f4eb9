// A simulated chip started in boot mode on a serial line, driven from C++ without a terminal:
// the host side puts bytes on the line with their times, the chip side's frames come back with
// theirs. Until the boot exchange is complete the BootStandIn answers; from the moment the
// final 0xAA has left the chip, the transferred program runs on the CPU and the line is
// connected to the chip's serial interface.
//
//   BootSession s(ChipModel::k3067f);
//   s.host_send(zeros);                          // 0x00 bytes at 19200 bit/s
//   auto r = s.run_until_frames(1, budget, wall);  // the chip's 0x00
//   auto frames = s.take_chip_frames();
//
// Times are states of the chip's clock since power-on. The line's bit rate is set on the host
// side (set_line_rate); the chip's own is what its BRR makes of its clock, so a host at the
// wrong rate gets framing errors in the running program, as on a real line.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <vector>

#include "boot_standin.h"
#include "chip.h"
#include "faults.h"

namespace h8sim {

enum class SessionStop {
  kReached,      // the clock reached the time asked for
  kFrames,       // the chip has sent the number of frames asked for
  kStateBudget,  // the state budget ran out first
  kWallClock,    // the wall-clock bound ran out first
  kCpuStopped,   // the program stopped the CPU (illegal instruction, access to nothing)
};

struct SessionResult {
  SessionStop stop;
  std::string message;  // for kCpuStopped: the CPU's one-line account; else a short reason
};

class BootSession {
 public:
  static constexpr unsigned kDefaultZerosToAdjust = 128;
  static constexpr unsigned kDefaultLineRate = 19200;
  // A program that has read the serial status this many times without anything changing, most
  // recently within kPollRecentStates, is only waiting for the host.
  static constexpr std::uint64_t kIdlePolls = 2000;
  static constexpr States kPollRecentStates = 2000;

  explicit BootSession(ChipModel model, Faults faults = {},
                       unsigned zeros_to_adjust = kDefaultZerosToAdjust);
  BootSession(const BootSession&) = delete;
  BootSession& operator=(const BootSession&) = delete;

  Chip& chip() { return chip_; }
  const Faults& faults() const { return faults_; }

  // Host side. The host's bit rate; takes effect for bytes sent from now on.
  void set_line_rate(unsigned bits_per_second);
  unsigned line_rate() const { return line_rate_; }
  double line_bit_states() const;
  // Puts `bytes` on the line as back-to-back 8N1 frames; the first starts at the later of
  // `earliest`, the clock's time and the end of the host's previous frame. Returns the time the
  // last frame ends. Bytes lost to a drop-byte fault still take their time on the line; bytes
  // after a hangup-after fault's count are discarded.
  States host_send(std::span<const std::uint8_t> bytes, States earliest = 0);
  States host_send(std::uint8_t byte, States earliest = 0) {
    return host_send({&byte, 1}, earliest);
  }
  std::uint64_t host_bytes() const { return host_bytes_; }
  // The line has closed (hangup-after fault).
  bool line_closed() const { return line_closed_; }

  // Chip side: frames the chip has completed and that were not yet taken, in order.
  std::vector<LineFrame> take_chip_frames();
  std::size_t chip_frames_waiting() const { return frames_.size(); }

  BootStandIn::Phase boot_phase() const { return standin_.phase(); }
  bool program_started() const { return running_; }
  // The program has executed SLEEP: the CPU stays stopped, the modules run on.
  bool program_sleeping() const { return sleeping_; }
  States program_start() const { return program_start_; }

  // Runs the chip until the clock reaches `until`, the CPU stops, or `wall` of real time passes.
  SessionResult run_until(States until,
                          std::chrono::milliseconds wall = std::chrono::milliseconds(60000));
  // Runs until at least `count` chip frames are waiting, within `budget` more states and `wall`.
  SessionResult run_until_frames(std::size_t count, States budget,
                                 std::chrono::milliseconds wall = std::chrono::milliseconds(60000));
  // True when nothing can happen before the host sends again: no event is pending and the boot
  // program waits, or the program only polls the serial status.
  bool waiting_for_host();

 private:
  bool adjust_bit_rate();
  void deliver(std::uint8_t value, States start, double bit_states);
  void on_chip_frame(const LineFrame& frame);
  void restart_boot();
  SessionResult run(States until, std::size_t frames, std::chrono::milliseconds wall);

  Faults faults_;
  Chip chip_;
  BootStandIn standin_;
  unsigned line_rate_ = kDefaultLineRate;
  States line_free_ = 0;
  std::uint64_t host_bytes_ = 0;
  std::uint64_t counted_bytes_ = 0;  // host bytes from its first non-zero byte on
  bool line_closed_ = false;
  std::deque<LineFrame> frames_;
  bool start_pending_ = false;
  bool running_ = false;
  bool sleeping_ = false;  // the program executed SLEEP
  States program_start_ = 0;
};

}  // namespace h8sim
