#include "writer_session.h"

#include <cmath>
#include <utility>

namespace vexlo::testing {

namespace {

using h8sim::BootSession;
using h8sim::SessionStop;

constexpr unsigned kLineRate = 19200;
constexpr unsigned kSlowLineRate = kLineRate / 2;  // far outside the receiver's tolerance
constexpr int kFrameBits = 10;                     // 8N1
constexpr std::size_t kBootZeros = 256;
constexpr std::uint8_t kBootSync = 0x55, kBootAck = 0xAA;
constexpr States kBootBudget = 100'000'000;
constexpr std::chrono::seconds kBootWall{60};

std::string stop_text(const h8sim::SessionResult& r) {
  switch (r.stop) {
    case SessionStop::kReached:
      return "time reached without a reply";
    case SessionStop::kFrames:
      return "frames arrived";
    case SessionStop::kStateBudget:
      return "state budget used up without a reply";
    case SessionStop::kWallClock:
      return "wall-clock bound reached without a reply";
    case SessionStop::kCpuStopped:
      return "CPU stopped: " + r.message;
  }
  return r.message;
}

}  // namespace

const Target& target_3067f() {
  static const Target t{ChipModel::k3067f, "H8/3067F", &kWriterImage3067f, 32, 2, 10, 8};
  return t;
}
const Target& target_3068f() {
  static const Target t{ChipModel::k3068f, "H8/3068F", &kWriterImage3068f, 32, 2, 10, 8};
  return t;
}
const Target& target_3664f() {
  static const Target t{ChipModel::k3664f, "H8/3664F", &kWriterImage3664f, 128, 1, 10, 8};
  return t;
}

std::vector<std::uint8_t> block_bytes(const Target& target, std::uint32_t number,
                                      std::span<const std::uint8_t> data) {
  std::vector<std::uint8_t> bytes;
  if (target.number_bytes == 2) bytes.push_back(static_cast<std::uint8_t>(number >> 8));
  bytes.push_back(static_cast<std::uint8_t>(number));
  bytes.insert(bytes.end(), data.begin(), data.end());
  return bytes;
}

// Stands between the bus and a module's registers and logs every CPU access.
class WriterSession::RegisterTap : public h8sim::IoDevice {
 public:
  RegisterTap(h8sim::Clock& clock, h8sim::IoDevice& inner, std::vector<Access>& log,
              std::function<void()> after_write = {})
      : clock_(clock), inner_(inner), log_(log), after_write_(std::move(after_write)) {}

  h8sim::IoDevice& inner() { return inner_; }

  std::uint8_t read8(Addr addr) override {
    std::uint8_t value = inner_.read8(addr);
    log_.push_back({clock_.now(), addr, value, false, 0});
    return value;
  }
  void write8(Addr addr, std::uint8_t value) override {
    log_.push_back({clock_.now(), addr, value, true, 0});
    inner_.write8(addr, value);
    if (after_write_) after_write_();
  }

 private:
  h8sim::Clock& clock_;
  h8sim::IoDevice& inner_;
  std::vector<Access>& log_;
  std::function<void()> after_write_;
};

// Stands between the bus and the flash controller's side door and logs every flash access.
class WriterSession::FlashTap : public h8sim::FlashPort {
 public:
  FlashTap(h8sim::Clock& clock, h8sim::FlashControl& inner, std::vector<Access>& log)
      : clock_(clock), inner_(inner), log_(log) {}

  std::uint8_t flash_read8(Addr offset) override {
    const std::uint8_t mode = inner_.flmcr1();
    std::uint8_t value = inner_.flash_read8(offset);
    log_.push_back({clock_.now(), offset, value, false, mode});
    return value;
  }
  void flash_write8(Addr offset, std::uint8_t value) override {
    log_.push_back({clock_.now(), offset, value, true, inner_.flmcr1()});
    inner_.flash_write8(offset, value);
  }

 private:
  h8sim::Clock& clock_;
  h8sim::FlashControl& inner_;
  std::vector<Access>& log_;
};

WriterSession::WriterSession(const Target& target, h8sim::Faults faults)
    : target_(target), session_(target.model, std::move(faults)) {
  h8sim::Chip& c = chip();
  h8sim::Bus& bus = c.bus();
  h8sim::Sci& sci = c.sci();
  h8sim::FlashControl& flash = c.flash_control();

  taps_.push_back(std::make_unique<RegisterTap>(c.clock(), sci, sci_log_));
  bus.detach(&sci);
  bus.attach(sci.base(), sci.last(), taps_.back().get());

  // Every flash read goes through the tap, also while SWE is clear (when the controller would
  // let the bus read the array directly), so that no read of the flash goes unseen.
  taps_.push_back(std::make_unique<RegisterTap>(c.clock(), flash, flmcr1_log_,
                                                [&bus] { bus.route_flash_reads(true); }));
  bus.detach(&flash);
  bus.attach(flash.first(), flash.last(), taps_.back().get());
  flash_tap_ = std::make_unique<FlashTap>(c.clock(), flash, flash_log_);
  bus.set_flash_port(flash_tap_.get());
  bus.route_flash_reads(true);
}

WriterSession::~WriterSession() {
  h8sim::Chip& c = chip();
  c.bus().set_flash_port(&c.flash_control());
  for (auto& tap : taps_) c.bus().detach(tap.get());
  c.bus().attach(c.sci().base(), c.sci().last(), &c.sci());
  c.bus().attach(c.flash_control().first(), c.flash_control().last(), &c.flash_control());
}

std::string WriterSession::boot() {
  std::vector<std::uint8_t> stream(kBootZeros, 0x00);
  const WriterImage& image = *target_.image;
  stream.insert(stream.end(), {kBootSync, static_cast<std::uint8_t>(kWriterImageSize >> 8),
                               static_cast<std::uint8_t>(kWriterImageSize & 0xFF)});
  stream.insert(stream.end(), image.begin(), image.end());
  std::vector<std::uint8_t> answer = {0x00, kBootAck, stream[kBootZeros + 1],
                                      stream[kBootZeros + 2]};
  answer.insert(answer.end(), image.begin(), image.end());
  answer.push_back(kBootAck);

  session_.set_line_rate(kLineRate);
  session_.host_send(stream);
  auto r = session_.run_until_frames(answer.size(), kBootBudget, kBootWall);
  if (r.stop != SessionStop::kFrames) return "boot exchange: " + stop_text(r);
  std::vector<std::uint8_t> got;
  for (const auto& f : session_.take_chip_frames()) got.push_back(f.value);
  if (got != answer) return "boot exchange: unexpected answer";
  if (!session_.program_started()) return "boot exchange: program not started";
  return "";
}

BlockOutcome WriterSession::send_block(std::uint32_t number, std::span<const std::uint8_t> data,
                                       LineFault fault, std::size_t fault_index) {
  BlockOutcome out;
  if (session_.chip_frames_waiting() != 0) {
    out.why = "a chip frame arrived before the block was sent";
    return out;
  }
  out.trace_from = trace().records().size();
  out.flash_from = flash_log_.size();
  out.sci_from = sci_log_.size();

  const std::vector<std::uint8_t> bytes = block_bytes(target_, number, data);
  const std::span<const std::uint8_t> all(bytes);
  const std::size_t split = fault == LineFault::kNone ? bytes.size() : fault_index;
  out.sent_end = session_.host_send(all.first(split));
  if (fault == LineFault::kFramingError) {
    session_.set_line_rate(kSlowLineRate);
    session_.host_send(bytes[split]);
    session_.set_line_rate(kLineRate);
  } else if (fault == LineFault::kOverrun && split > 0) {
    // The dropped frame starts one state after the previous one and so completes while that
    // one's byte still waits in RDR.
    const double bit = session_.line_bit_states();
    const States frame = static_cast<States>(std::ceil(bit * kFrameBits));
    const States start = out.sent_end - frame + 1;
    const std::uint8_t value = bytes[split];
    h8sim::Sci& sci = chip().sci();
    chip().clock().schedule(start,
                            [&sci, value, start, bit] { sci.receive_frame(value, start, bit); });
  }
  if (split < bytes.size()) out.sent_end = session_.host_send(all.subspan(split + 1));

  auto r = session_.run_until_frames(1, kReplyBudget, kReplyWall);
  if (r.stop != SessionStop::kFrames) {
    out.why = stop_text(r);
    return out;
  }
  auto frames = session_.take_chip_frames();
  out.replied = true;
  out.reply_frame = frames.front();
  out.reply = frames.front().value;
  if (frames.size() > 1) out.why = "more than one frame in reply to one block";
  return out;
}

std::vector<h8sim::LineFrame> WriterSession::idle(States states) {
  session_.run_until(chip().clock().now() + states, kReplyWall);
  return session_.take_chip_frames();
}

}  // namespace vexlo::testing
