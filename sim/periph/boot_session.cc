#include "boot_session.h"

#include <algorithm>
#include <cmath>

namespace h8sim {

namespace {

constexpr int kLineFrameBits = 10;      // 8N1: start, 8 data, stop
constexpr States kSliceStates = 20000;  // how often run() looks at its limits
constexpr const char* kBootRestart = "reset in boot mode";
constexpr std::uint8_t kScrTeRe = kScrTe | kScrRe;

}  // namespace

BootSession::BootSession(ChipModel model, Faults faults, unsigned zeros_to_adjust)
    : faults_(std::move(faults)),
      chip_(model),
      standin_(faults_, zeros_to_adjust,
               chip_.map().ram_base + chip_.map().ram_size - chip_.facts().load_address,
               BootStandIn::Hooks{
                   .adjust = [this] { return adjust_bit_rate(); },
                   .send = [this](std::uint8_t v) { chip_.sci().boot_transmit(v); },
                   .store =
                       [this](std::uint32_t index, std::uint8_t v) {
                         Addr at = chip_.facts().load_address + index - chip_.map().ram_base;
                         chip_.bus().ram()[at] = v;
                       },
                   .erase = [this] { chip_.flash_control().erase_all(); },
                   .start = [this] { start_pending_ = true; },
               }) {
  chip_.flash_control().set_slow_cells(faults_.slow_cells);
  for (Addr offset : faults_.stuck_zero) chip_.flash_control().add_stuck_zero(offset);
  chip_.sci().set_transmit_sink([this](const LineFrame& f) { on_chip_frame(f); });
  chip_.set_reset_hook([this] { restart_boot(); });
}

void BootSession::set_line_rate(unsigned bits_per_second) {
  if (bits_per_second != 0) line_rate_ = bits_per_second;
}

double BootSession::line_bit_states() const {
  return static_cast<double>(chip_.clock_hz()) / line_rate_;
}

bool BootSession::adjust_bit_rate() {
  // The boot program measures the host's bit time on the 0x00 frames and picks the clock
  // divider and BRR value that come closest; it gives up if none is close enough.
  const double bit = line_bit_states();
  for (unsigned n = 0; n < 4; ++n) {
    const double ticks = 32.0 * static_cast<double>(1u << (2 * n));
    const long brr = std::lround(bit / ticks) - 1;
    if (brr < 0 || brr > 255) continue;
    const double chip_bit = ticks * static_cast<double>(brr + 1);
    if (std::fabs(chip_bit / bit - 1.0) > kRateTolerance) return false;
    Sci& sci = chip_.sci();
    sci.write8(sci.base() + kScrOffset, 0);
    sci.write8(sci.base() + kSmrOffset, static_cast<std::uint8_t>(n));
    sci.write8(sci.base() + kBrrOffset, static_cast<std::uint8_t>(brr));
    sci.write8(sci.base() + kScrOffset, kScrTeRe);
    return true;
  }
  return false;
}

States BootSession::host_send(std::span<const std::uint8_t> bytes, States earliest) {
  const double bit = line_bit_states();
  const States frame = static_cast<States>(std::ceil(bit * kLineFrameBits));
  Clock& clock = chip_.clock();
  for (std::uint8_t value : bytes) {
    if (line_closed_) break;
    const States start = std::max({earliest, clock.now(), line_free_});
    line_free_ = start + frame;
    ++host_bytes_;
    // The faults count the host's bytes from its first byte other than 0x00 (the inquiry 0x55):
    // how many zeros a host sends while the boot program adjusts depends on its timing.
    counted_bytes_ += (counted_bytes_ > 0 || value != 0) ? 1 : 0;
    if (faults_.hangup_after && counted_bytes_ >= *faults_.hangup_after) line_closed_ = true;
    if (faults_.drop_byte == counted_bytes_) continue;
    clock.schedule(start, [this, value, start, bit] { deliver(value, start, bit); });
  }
  return line_free_;
}

void BootSession::deliver(std::uint8_t value, States start, double bit_states) {
  if (running_) {
    chip_.sci().receive_frame(value, start, bit_states);
    return;
  }
  // The boot program takes the byte once its frame has ended.
  const States end = start + static_cast<States>(std::ceil(bit_states * kLineFrameBits));
  chip_.clock().schedule(end, [this, value] {
    if (!running_) standin_.receive(value);
  });
}

void BootSession::on_chip_frame(const LineFrame& frame) {
  frames_.push_back(frame);
  if (start_pending_ && chip_.sci().idle()) {
    // The boot program jumps to the transferred program once its 0xAA has gone out.
    start_pending_ = false;
    running_ = true;
    program_start_ = frame.end;
    chip_.cpu().set_ccr(kCcrI);
    chip_.cpu().set_pc(chip_.facts().load_address);
  }
}

void BootSession::restart_boot() {
  // A reset in boot mode starts the boot program over; the transferred program is gone.
  running_ = false;
  sleeping_ = false;
  start_pending_ = false;
  standin_.restart();
  chip_.clock().request_stop(kBootRestart);
}

std::vector<LineFrame> BootSession::take_chip_frames() {
  std::vector<LineFrame> out(frames_.begin(), frames_.end());
  frames_.clear();
  return out;
}

bool BootSession::waiting_for_host() {
  Clock& clock = chip_.clock();
  if (clock.next_deadline() != kNever) return false;
  if (!running_ || sleeping_) return true;
  const Sci& sci = chip_.sci();
  return sci.polls_since_change() >= kIdlePolls &&
         clock.now() - sci.last_poll() < kPollRecentStates;
}

SessionResult BootSession::run_until(States until, std::chrono::milliseconds wall) {
  return run(until, 0, wall);
}

SessionResult BootSession::run_until_frames(std::size_t count, States budget,
                                            std::chrono::milliseconds wall) {
  return run(chip_.clock().now() + budget, std::max<std::size_t>(count, 1), wall);
}

SessionResult BootSession::run(States until, std::size_t frames, std::chrono::milliseconds wall) {
  Clock& clock = chip_.clock();
  const auto wall_end = std::chrono::steady_clock::now() + wall;
  for (;;) {
    if (frames != 0 && frames_.size() >= frames) return {SessionStop::kFrames, "frames arrived"};
    if (clock.now() >= until) {
      if (frames != 0) return {SessionStop::kStateBudget, "state budget used up"};
      return {SessionStop::kReached, "time reached"};
    }
    if (std::chrono::steady_clock::now() > wall_end) {
      return {SessionStop::kWallClock, "wall-clock bound reached"};
    }
    const States slice_end = std::min(until, clock.now() + kSliceStates);
    if (running_ && !sleeping_) {
      StopResult r = chip_.cpu().run(slice_end);
      if (r.reason == StopReason::kDeadline) continue;
      if (r.reason == StopReason::kSleep) {
        // Nothing here wakes a sleeping CPU (no interrupts are modelled); the modules run on.
        sleeping_ = true;
        continue;
      }
      if (r.reason == StopReason::kStopRequested && clock.stop_reason() == kBootRestart) {
        clock.clear_stop();
        continue;
      }
      return {SessionStop::kCpuStopped, r.message};
    }
    const States next = std::min(clock.next_deadline(), slice_end);
    if (next > clock.now()) clock.advance(next - clock.now());
    clock.run_due();
  }
}

}  // namespace h8sim
