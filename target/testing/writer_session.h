// A writing program running on a simulated chip, driven as the host drives it: the chip is
// started in boot mode, the 1024-byte image goes through the boot exchange, and then blocks go
// out on the line at 19200 bit/s and their one-byte replies come back.
//
// Besides the flash controller's timeline, the session logs every CPU access to the serial
// registers, to FLMCR1 and to the flash array, each with its simulated time, so that tests can
// measure waits, receiver gaps and the flash reads and writes themselves. Every run is bounded
// in simulated states and in wall-clock time and fails with a reason instead of hanging.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "boot_session.h"
#include "writer_images.h"

namespace vexlo::testing {

using h8sim::Addr;
using h8sim::ChipModel;
using h8sim::States;

// The chip-side facts a test needs about one writing program, written down here from the
// block protocol (not taken from the host's profiles).
struct Target {
  ChipModel model;
  const char* name;
  const WriterImage* image;
  unsigned block_bytes;      // 32 or 128
  unsigned number_bytes;     // block number bytes on the line: 2 (high first) or 1
  States pass_states;        // one pass of the counted wait loop
  States pulse_pass_states;  // one pass of the pulse loop
};

const Target& target_3067f();
const Target& target_3068f();
const Target& target_3664f();

// One register or flash access by the CPU.
struct Access {
  States at;
  Addr addr;  // register address, or flash offset for flash accesses
  std::uint8_t value;
  bool write;
  std::uint8_t flmcr1;  // FLMCR1 at the time (flash accesses only)
};

// How a block's bytes go on the line.
enum class LineFault {
  kNone,
  kFramingError,  // byte `fault_index` is sent at half the bit rate: the chip sees FER
  kOverrun,       // byte `fault_index` follows the previous one by one state: the chip drops it
};

struct BlockOutcome {
  bool replied = false;
  std::uint8_t reply = 0;
  std::string why;      // when not replied: the run's stop reason
  States sent_end = 0;  // the end of the block's last frame on the line
  h8sim::LineFrame reply_frame{};
  std::size_t trace_from = 0;  // index of the block's first record in the flash timeline
  std::size_t flash_from = 0;  // index of the block's first flash access in flash_log()
  std::size_t sci_from = 0;    // index of the block's first SCI access in sci_log()
};

class WriterSession {
 public:
  static constexpr States kReplyBudget = 60'000'000;
  static constexpr std::chrono::seconds kReplyWall{240};

  explicit WriterSession(const Target& target, h8sim::Faults faults = {});
  ~WriterSession();
  WriterSession(const WriterSession&) = delete;
  WriterSession& operator=(const WriterSession&) = delete;

  // The boot exchange with the target's image. Returns "" once the program runs, else why not.
  std::string boot();

  // Sends block `number` with `data` (block_bytes long) and runs until the reply arrives,
  // within kReplyBudget states and kReplyWall.
  BlockOutcome send_block(std::uint32_t number, std::span<const std::uint8_t> data,
                          LineFault fault = LineFault::kNone, std::size_t fault_index = 0);

  // Runs `states` more with nothing sent; returns the chip frames that came meanwhile.
  std::vector<h8sim::LineFrame> idle(States states);

  const Target& target() const { return target_; }
  h8sim::BootSession& session() { return session_; }
  h8sim::Chip& chip() { return session_.chip(); }
  const h8sim::FlashTrace& trace() { return chip().trace(); }
  std::span<const std::uint8_t> flash() { return chip().flash(); }
  const std::vector<Access>& sci_log() const { return sci_log_; }
  const std::vector<Access>& flmcr1_log() const { return flmcr1_log_; }
  const std::vector<Access>& flash_log() const { return flash_log_; }

 private:
  class RegisterTap;
  class FlashTap;

  const Target& target_;
  h8sim::BootSession session_;
  std::vector<Access> sci_log_;
  std::vector<Access> flmcr1_log_;
  std::vector<Access> flash_log_;
  std::vector<std::unique_ptr<RegisterTap>> taps_;
  std::unique_ptr<FlashTap> flash_tap_;
};

// The block's bytes on the line: the block number (high byte first), then the data.
std::vector<std::uint8_t> block_bytes(const Target& target, std::uint32_t number,
                                      std::span<const std::uint8_t> data);

}  // namespace vexlo::testing
