#include "sci.h"

#include <algorithm>
#include <cmath>

namespace h8sim {

namespace {

constexpr std::uint8_t kStatusFlags = kSsrTdre | kSsrRdrf | kSsrOrer | kSsrFer | kSsrPer;
constexpr std::uint8_t kErrorFlags = kSsrOrer | kSsrFer | kSsrPer;

// The level of bit cell `cell` of an 8N1 frame carrying `value`; the line idles at 1 after it.
int line_level(std::uint8_t value, long cell) {
  if (cell <= 0) return 0;
  if (cell <= 8) return (value >> (cell - 1)) & 1;
  return 1;
}

}  // namespace

Sci::Sci(Clock& clock, SciKind kind, Addr base) : clock_(clock), kind_(kind), base_(base) {}

Sci::~Sci() {
  if (event_ != 0) clock_.cancel(event_);
}

void Sci::reset() {
  smr_ = 0;
  brr_ = 0xFF;
  scr_ = 0;
  tdr_ = 0xFF;
  rdr_ = 0;
  ssr_ = kSsrTdre | kSsrTend;
  read_as_one_ = 0;
  tx_busy_ = false;
  backlog_.clear();
  rx_.clear();
  changed();
  reschedule();
}

States Sci::bit_states() const {
  // 32·4^n·(N+1): the baud rate generator divides φ by 4^n and by N+1, and one bit is 32 of
  // its ticks (16 in synchronous mode, which is not modelled).
  return (States{32} << (2 * (smr_ & kSmrCks))) * (States{brr_} + 1);
}

int Sci::frame_bits() const {
  int bits = 1 + ((smr_ & kSmrChr) ? 7 : 8) + ((smr_ & kSmrPe) ? 1 : 0);
  return bits + ((smr_ & kSmrStop2) ? 2 : 1);
}

void Sci::set_flags(std::uint8_t flags) {
  std::uint8_t rising = flags & ~ssr_;
  ssr_ |= flags;
  read_as_one_ &= ~rising;
  if (rising) changed();
}

void Sci::clear_flags(std::uint8_t flags) {
  if (ssr_ & flags) changed();
  ssr_ &= ~flags;
  read_as_one_ &= ~flags;
}

States Sci::next_transition() const {
  States next = kNever;
  if (tx_busy_) next = tx_.end;
  if (!rx_.empty()) {
    const Incoming& in = rx_.front();
    next = std::min(next, in.started ? in.complete : in.start);
  }
  return next;
}

void Sci::sync() {
  const States now = clock_.now();
  for (;;) {
    States tx_at = tx_busy_ ? tx_.end : kNever;
    States rx_at = kNever;
    if (!rx_.empty()) rx_at = rx_.front().started ? rx_.front().complete : rx_.front().start;
    if (std::min(tx_at, rx_at) > now) break;
    if (tx_at <= rx_at) {
      finish_transmit();
      continue;
    }
    Incoming& in = rx_.front();
    if (!in.started) {
      in.started = true;
      in.lost = !(scr_ & kScrRe);
      continue;
    }
    Incoming done = in;
    rx_.pop_front();
    complete_receive(done);
  }
}

void Sci::reschedule() {
  States next = next_transition();
  if (next == event_time_) return;
  if (event_ != 0) clock_.cancel(event_);
  event_ = 0;
  event_time_ = next;
  if (next == kNever) return;
  event_ = clock_.schedule(next, [this] {
    event_ = 0;
    event_time_ = kNever;
    sync();
    reschedule();
  });
}

void Sci::start_transmit(States at) {
  if (tx_busy_ || !(scr_ & kScrTe)) return;
  std::uint8_t value;
  if (!backlog_.empty()) {
    value = backlog_.front();
    backlog_.pop_front();
  } else if (!(ssr_ & kSsrTdre)) {
    value = tdr_;
    set_flags(kSsrTdre);
  } else {
    return;
  }
  tx_busy_ = true;
  tx_ = LineFrame{value, at, at + bit_states() * static_cast<States>(frame_bits())};
  clear_flags(kSsrTend);
}

void Sci::finish_transmit() {
  tx_busy_ = false;
  LineFrame sent = tx_;
  changed();
  if (sink_) sink_(sent);
  start_transmit(sent.end);
  if (!tx_busy_ && (ssr_ & kSsrTdre)) set_flags(kSsrTend);
}

void Sci::complete_receive(const Incoming& frame) {
  if (frame.lost || !(scr_ & kScrRe) || (ssr_ & kErrorFlags)) return;
  if (ssr_ & kSsrRdrf) {
    set_flags(kSsrOrer);
    return;
  }
  rdr_ = frame.value;
  changed();
  if (frame.framing_error || frame.parity_error) {
    set_flags((frame.framing_error ? kSsrFer : 0) | (frame.parity_error ? kSsrPer : 0));
    return;
  }
  set_flags(kSsrRdrf);
}

void Sci::receive_frame(std::uint8_t value, States start, double line_bit_states) {
  sync();
  const double bit = static_cast<double>(bit_states());
  const int data_bits = (smr_ & kSmrChr) ? 7 : 8;
  const bool parity = smr_ & kSmrPe;
  // The receiver samples the middle of each of its own bit cells and reads whatever the line
  // holds there.
  auto sample = [&](int cell) {
    return line_level(value, static_cast<long>(std::floor((cell + 0.5) * bit / line_bit_states)));
  };
  Incoming in{};
  in.start = start;
  int ones = 0;
  std::uint8_t data = 0;
  for (int i = 0; i < data_bits; ++i) {
    int level = sample(1 + i);
    ones += level;
    data |= static_cast<std::uint8_t>(level << i);
  }
  int next_cell = 1 + data_bits;
  if (parity) {
    ones += sample(next_cell++);
    bool odd = smr_ & kSmrOddParity;
    in.parity_error = (ones % 2 == 1) != odd;
  }
  const bool rate_off = std::fabs(bit / line_bit_states - 1.0) > kRateTolerance;
  in.framing_error = rate_off || sample(next_cell) == 0;
  in.value = data;
  in.complete = start + static_cast<States>(std::ceil((next_cell + 0.5) * bit));
  rx_.push_back(in);
  reschedule();
}

void Sci::boot_transmit(std::uint8_t value) {
  sync();
  backlog_.push_back(value);
  start_transmit(clock_.now());
  reschedule();
}

std::uint8_t Sci::peek_ssr() {
  sync();
  reschedule();
  std::uint8_t value = ssr_;
  if (!(scr_ & kScrTe)) value |= kSsrTdre | kSsrTend;
  return value;
}

std::uint8_t Sci::read8(Addr addr) {
  // The common case is a program polling SSR with nothing due: no sync, no rescheduling.
  if (addr - base_ == kSsrOffset && next_transition() > clock_.now()) {
    std::uint8_t value = ssr_;
    if (!(scr_ & kScrTe)) value |= kSsrTdre | kSsrTend;
    read_as_one_ |= value & kStatusFlags;
    ++polls_since_change_;
    last_poll_ = clock_.now();
    return value;
  }
  sync();
  std::uint8_t value = 0xFF;
  switch (addr - base_) {
    case kSmrOffset:
      value = smr_;
      break;
    case kBrrOffset:
      value = brr_;
      break;
    case kScrOffset:
      value = scr_;
      break;
    case kTdrOffset:
      value = tdr_;
      break;
    case kSsrOffset:
      value = peek_ssr();
      read_as_one_ |= value & kStatusFlags;
      ++polls_since_change_;
      last_poll_ = clock_.now();
      break;
    case kRdrOffset:
      value = rdr_;
      if (kind_ == SciKind::kSci3) clear_flags(kSsrRdrf);
      break;
  }
  reschedule();
  return value;
}

void Sci::write_ssr(std::uint8_t value) {
  // Only the flags read as 1 and now written as 0 are cleared.
  std::uint8_t clearing = ~value & read_as_one_ & ssr_ & kStatusFlags;
  if (clearing & kSsrTdre) clearing |= kSsrTend;
  if (!(scr_ & kScrTe)) clearing &= ~(kSsrTdre | kSsrTend);
  clear_flags(clearing);
  ssr_ = static_cast<std::uint8_t>((ssr_ & ~kSsrMpbt) | (value & kSsrMpbt));
  if (clearing & kSsrTdre) start_transmit(clock_.now());
}

void Sci::write_scr(std::uint8_t value) {
  const std::uint8_t old = scr_;
  scr_ = value;
  changed();
  if ((old & kScrTe) && !(value & kScrTe)) {
    backlog_.clear();
    set_flags(kSsrTdre | kSsrTend);
  }
  if (!(old & kScrTe) && (value & kScrTe)) {
    set_flags(kSsrTdre | kSsrTend);
    start_transmit(clock_.now());
  }
}

void Sci::write8(Addr addr, std::uint8_t value) {
  sync();
  switch (addr - base_) {
    case kSmrOffset:
      smr_ = value;
      changed();
      break;
    case kBrrOffset:
      brr_ = value;
      changed();
      break;
    case kScrOffset:
      write_scr(value);
      break;
    case kTdrOffset:
      tdr_ = value;
      changed();
      if (kind_ == SciKind::kSci3 && (scr_ & kScrTe)) {
        clear_flags(kSsrTdre | kSsrTend);
        start_transmit(clock_.now());
      }
      break;
    case kSsrOffset:
      write_ssr(value);
      break;
    case kRdrOffset:
      break;  // read-only
  }
  reschedule();
}

}  // namespace h8sim
