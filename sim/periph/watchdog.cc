#include "watchdog.h"

namespace h8sim {

namespace {

// TCSRWD bits.
constexpr std::uint8_t kB6wi = 0x80, kTcwe = 0x40, kB4wi = 0x20, kTcsrwe = 0x10, kB2wi = 0x08,
                       kWdon = 0x04, kB0wi = 0x02, kWrst = 0x01;
constexpr std::uint8_t kInhibitBits = kB6wi | kB4wi | kB2wi | kB0wi;

// TCSR (H8/3067) and RSTCSR bits.
constexpr std::uint8_t kOvf = 0x80, kWtIt = 0x40, kTme = 0x20, kTcsrReserved = 0x18, kCks = 0x07;
constexpr std::uint8_t kWovf = 0x80, kRste = 0x40, kRsts = 0x20, kRstcsrReserved = 0x1F;
constexpr std::uint8_t kPasswordTcsr = 0xA5, kPasswordTcnt = 0x5A;

constexpr States kDividers3067[8] = {2, 32, 64, 128, 256, 512, 2048, 4096};

}  // namespace

void TickCounter::start(States now, std::uint8_t value, States divider) {
  running_ = true;
  base_ = value;
  start_ = now;
  divider_ = divider;
}

void TickCounter::stop(States now) {
  base_ = value(now);
  running_ = false;
}

void TickCounter::load(States now, std::uint8_t value) {
  base_ = value;
  start_ = now;
}

std::uint8_t TickCounter::value(States now) const {
  if (!running_) return base_;
  // Ticks of the free-running prescaler in (start, now].
  States ticks = now / divider_ - start_ / divider_;
  return static_cast<std::uint8_t>(base_ + ticks);
}

States TickCounter::overflow_time() const {
  if (!running_) return kNever;
  States ticks_needed = 256 - base_;
  return (start_ / divider_ + ticks_needed) * divider_;
}

WatchdogTiny::WatchdogTiny(Clock& clock, ResetRequest reset)
    : clock_(clock), reset_(std::move(reset)) {}

WatchdogTiny::~WatchdogTiny() {
  if (event_ != 0) clock_.cancel(event_);
}

void WatchdogTiny::reset() {
  tcsrwd_ &= kWrst;
  tmwd_ = 0xFF;
  counter_ = TickCounter{};
  restart();
}

States WatchdogTiny::divider() const {
  std::uint8_t cks = tmwd_ & 0x0F;
  if (!(cks & 0x08)) return 8192;
  return States{64} << (cks & 0x07);
}

void WatchdogTiny::restart() {
  if (event_ != 0) clock_.cancel(event_);
  event_ = 0;
  if (counter_.running()) {
    event_ = clock_.schedule(counter_.overflow_time(), [this] {
      event_ = 0;
      overflow();
    });
  }
}

void WatchdogTiny::overflow() {
  counter_.start(clock_.now(), 0, divider());
  tcsrwd_ |= kWrst;
  if (reset_) reset_("watchdog");
  restart();
}

std::uint8_t WatchdogTiny::read8(Addr addr) {
  switch (addr) {
    case kTcsrwd:
      return tcsrwd_ | kInhibitBits;
    case kTcwd:
      return counter_.value(clock_.now());
    case kTmwd:
      return tmwd_ | 0xF0;
  }
  return 0xFF;
}

void WatchdogTiny::write8(Addr addr, std::uint8_t value) {
  const States now = clock_.now();
  if (addr == kTcsrwd) {
    const bool tcsrwe = tcsrwd_ & kTcsrwe;
    std::uint8_t next = tcsrwd_;
    if (!(value & kB6wi)) next = (next & ~kTcwe) | (value & kTcwe);
    if (!(value & kB4wi)) next = (next & ~kTcsrwe) | (value & kTcsrwe);
    if (!(value & kB2wi) && tcsrwe) next = (next & ~kWdon) | (value & kWdon);
    if (!(value & kB0wi) && tcsrwe && !(value & kWrst)) next &= ~kWrst;
    const bool was_on = tcsrwd_ & kWdon, on = next & kWdon;
    tcsrwd_ = next;
    if (was_on && !on) counter_.stop(now);
    if (!was_on && on) counter_.start(now, counter_.value(now), divider());
  } else if (addr == kTcwd) {
    if (!(tcsrwd_ & kTcwe)) return;
    counter_.load(now, value);
  } else if (addr == kTmwd) {
    std::uint8_t count = counter_.value(now);
    tmwd_ = value;
    if (counter_.running()) counter_.start(now, count, divider());
  }
  restart();
}

Watchdog3067::Watchdog3067(Clock& clock, ResetRequest reset)
    : clock_(clock), reset_(std::move(reset)) {}

Watchdog3067::~Watchdog3067() {
  if (event_ != 0) clock_.cancel(event_);
}

void Watchdog3067::reset() {
  tcsr_ = kTcsrReserved;
  rstcsr_ &= kWovf;
  rstcsr_ |= kRstcsrReserved;
  read_ovf_ = 0;
  restart(0);
}

States Watchdog3067::divider() const { return kDividers3067[tcsr_ & kCks]; }

void Watchdog3067::restart(std::uint8_t count) {
  const States now = clock_.now();
  if (tcsr_ & kTme) {
    counter_.start(now, count, divider());
  } else {
    counter_ = TickCounter{};
  }
  if (event_ != 0) clock_.cancel(event_);
  event_ = 0;
  if (counter_.running()) {
    event_ = clock_.schedule(counter_.overflow_time(), [this] {
      event_ = 0;
      overflow();
    });
  }
}

void Watchdog3067::overflow() {
  if (tcsr_ & kWtIt) {
    rstcsr_ |= kWovf;
    if ((rstcsr_ & kRste) && reset_) {
      reset_("watchdog");
      return;
    }
  } else {
    tcsr_ |= kOvf;
  }
  restart(0);
}

std::uint8_t Watchdog3067::read8(Addr addr) {
  switch (addr) {
    case kTcsr:
      read_ovf_ = tcsr_ & kOvf;
      return tcsr_ | kTcsrReserved;
    case kTcnt:
      return counter_.value(clock_.now());
    case kRstcsrRead:
      return rstcsr_ | kRstcsrReserved;
  }
  return 0xFF;
}

void Watchdog3067::write8(Addr, std::uint8_t) {
  // TCSR, TCNT and RSTCSR take only password word writes; byte writes do nothing.
}

void Watchdog3067::write16(Addr addr, std::uint16_t value) {
  const std::uint8_t key = static_cast<std::uint8_t>(value >> 8);
  const std::uint8_t data = static_cast<std::uint8_t>(value);
  if (addr == kTcsr && key == kPasswordTcsr) {
    std::uint8_t ovf = tcsr_ & kOvf;
    if (!(data & kOvf) && read_ovf_) ovf = 0;  // OVF: cleared by writing 0 after reading 1
    const std::uint8_t count = counter_.value(clock_.now());
    tcsr_ = static_cast<std::uint8_t>(ovf | (data & (kWtIt | kTme | kCks)));
    restart((tcsr_ & kTme) ? count : 0);
  } else if (addr == kTcsr && key == kPasswordTcnt) {
    restart(data);
  } else if (addr == kRstcsrWrite && key == kPasswordTcsr) {
    if (data == 0) rstcsr_ &= ~kWovf;
  } else if (addr == kRstcsrWrite && key == kPasswordTcnt) {
    rstcsr_ = static_cast<std::uint8_t>((rstcsr_ & kWovf) | (data & (kRste | kRsts)));
  }
}

}  // namespace h8sim
