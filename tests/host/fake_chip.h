// A scriptable stand-in for an H8 chip in boot mode, on the far end of a pseudo-terminal.
//
// The host program under test opens the pty's slave path as its serial port; the fake chip sits
// on the master side in a thread of its own and plays the chip's on-chip boot program (answer the
// bursts of zeros, 0x55 -> 0xAA, echo the size and the writing program, acknowledge it) and then
// the writing program's side of the block protocol (take block number + data, store it in its
// flash, reply one byte). A script makes it misbehave at one chosen point. It drains the master
// all the time, so the host can never block on a full pty buffer, and records every byte the host
// sends, the flash it would hold and the pty's line settings around the run.
#pragma once

#include <termios.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace vexlo::hosttest {

inline constexpr std::uint8_t kSyncByte = 0x55;      // host -> boot program after the answer
inline constexpr std::uint8_t kBootAck = 0xAA;       // boot program: sync and program accepted
inline constexpr std::uint8_t kBlockAccepted = 'S';  // writing program: block programmed
inline constexpr std::size_t kBurstBytes = 256;      // zeros per connection attempt
inline constexpr int kMaxBursts = 100;               // connection attempts before the host aborts

// Points of the exchange at which the chip sends something; a fault is placed at one of them.
enum class Step {
  kAnswer,       // answer to the bursts of zeros (normally 0x00)
  kSyncAck,      // answer to 0x55 after any scripted zeros (normally 0xAA)
  kEcho,         // echo number `index`: 0 size high byte, 1 size low byte, 2 + i program byte i
  kTransferAck,  // after the last echo (normally 0xAA)
  kBlockReply,   // reply to the block with block number `index` (normally 'S')
};

struct Fault {
  enum class Kind {
    kNone,
    kWrongByte,  // send `byte` instead of the proper byte, then carry on as normal
    kSilent,     // send nothing from this point on (keeps receiving and recording)
  };
  Kind kind = Kind::kNone;
  Step step = Step::kAnswer;
  int index = 0;
  std::uint8_t byte = 0;
};

struct ChipScript {
  std::size_t image_size = 0;  // flash size in bytes
  std::size_t block_size = 0;
  int block_number_bytes = 2;   // 2: high byte first; 1: one byte
  int answer_after_bursts = 1;  // bursts of 256 zeros before the answer; 0 = the chip never answers
  int zeros_before_sync_ack = 0;             // 0x00 bytes sent after 0x55, before the 0xAA
  std::chrono::microseconds reply_delay{0};  // writing program's time to program one block
  Fault fault;
};

// What the chip saw. `received` holds every byte from the host in order.
struct ChipRecord {
  std::vector<std::uint8_t> received;
  std::vector<std::uint8_t> flash;    // image_size bytes; 0xFF where no block was stored
  std::vector<int> blocks;            // block numbers in the order they arrived
  termios before{};                   // line settings before the host started (see .cc)
  termios after{};                    // line settings after finish()
  std::optional<termios> during;      // settings in force when the host's first byte arrived
  bool exclusive_during = false;      // TIOCEXCL was set on the port at that moment
  std::vector<std::string> problems;  // protocol breaches and internal failures, with context
};

class FakeChip {
 public:
  // Opens a pty and starts the chip thread. Throws std::system_error when the pty cannot be made.
  explicit FakeChip(ChipScript script);
  ~FakeChip();
  FakeChip(const FakeChip&) = delete;
  FakeChip& operator=(const FakeChip&) = delete;

  // The slave path the host opens as its port, e.g. "/dev/pts/7".
  const std::string& port_path() const { return port_path_; }

  // Waits (at most `limit`) until the chip has received `count` bytes in all; false on time-out.
  bool wait_for_bytes(std::size_t count, std::chrono::milliseconds limit);

  // Stops the thread (call it after the host has exited), reads the line settings once more and
  // hands over the record. Call once.
  ChipRecord finish();

 private:
  enum class Phase { kSync, kAwaitSyncByte, kEcho, kBlocks };

  void set_starting_settings();
  void run();
  void take(std::uint8_t byte);
  void take_sync(std::uint8_t byte);
  void take_echo(std::uint8_t byte);
  void take_block_byte(std::uint8_t byte);
  void store_block();
  void send(Step step, int index, std::uint8_t proper);
  void flush_output();
  void note_first_byte();
  void problem(std::string text);

  ChipScript script_;
  int master_fd_ = -1;
  int slave_fd_ = -1;  // held open so the pty lives on between the host's open and close
  int wake_pipe_[2] = {-1, -1};
  std::string port_path_;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  std::mutex count_mutex_;
  std::condition_variable count_changed_;
  std::size_t received_count_ = 0;  // guarded by count_mutex_; the record is the chip thread's

  // Chip state, touched by the chip thread only until finish() has joined it.
  Phase phase_ = Phase::kSync;
  bool silent_ = false;
  std::size_t zeros_seen_ = 0;
  bool answered_ = false;
  int echoes_sent_ = 0;
  int program_size_ = -1;  // from the two size bytes, once both have arrived
  std::uint8_t size_high_ = 0;
  std::vector<std::uint8_t> block_;
  std::vector<std::uint8_t> pending_out_;
  std::chrono::steady_clock::time_point release_at_{};  // pending_out_ goes out from then on
  ChipRecord record_;
};

// "" when the two settings agree in every field the line discipline uses, else a description of
// each difference ("c_lflag 0x8a3b -> 0x0", "speed 38400 -> 19200", ...).
std::string DescribeTermiosChange(const termios& from, const termios& to);

}  // namespace vexlo::hosttest
