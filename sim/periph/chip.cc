#include "chip.h"

#include <algorithm>

namespace h8sim {

namespace {

// Registers the writing programs touch but that nothing here models beyond holding a value.
std::vector<std::vector<PlainRegister>> plain_registers(ChipModel model) {
  if (model == ChipModel::k3664f) {
    return {{{0xFF9B, 0x80, "FENR"}}};  // flash memory enable: FLSHE set, as boot mode leaves it
  }
  return {
      {{0xFEE003, 0x00, "P4DDR"}},
      {{0xFEE012, 0x09, "SYSCR"}},
      {{0xFEE077, 0xF1, "RAMCR"}},
      {{0xFFFFBE, 0xF2, "SCMR1"}},
  };
}

}  // namespace

Chip::Chip(ChipModel model)
    : map_(chip_map(model)),
      facts_(periph_facts(model)),
      bus_(map_, clock_),
      cpu_(bus_, clock_, map_.mode),
      trace_(map_.clock_hz),
      sci_(clock_, facts_.sci_kind, facts_.sci_base),
      flash_(clock_, facts_, map_.clock_hz, bus_.flash(), trace_,
             [this](bool on) { bus_.route_flash_reads(on); }) {
  bus_.attach(sci_.base(), sci_.last(), &sci_);
  bus_.attach(flash_.first(), flash_.last(), &flash_);
  bus_.set_flash_port(&flash_);
  cpu_.set_observer(&flash_);
  auto on_overflow = [this](const std::string& cause) { watchdog_reset(cause); };
  if (facts_.watchdog == WatchdogKind::kH83664) {
    watchdog_tiny_ = std::make_unique<WatchdogTiny>(clock_, on_overflow);
    bus_.attach(WatchdogTiny::kTcsrwd, WatchdogTiny::kTmwd, watchdog_tiny_.get());
  } else {
    watchdog_3067_ = std::make_unique<Watchdog3067>(clock_, on_overflow);
    bus_.attach(Watchdog3067::kTcsr, Watchdog3067::kRstcsrRead, watchdog_3067_.get());
  }
  for (auto& group : plain_registers(model)) {
    plain_.push_back(std::make_unique<RegisterBlock>(group));
    bus_.attach(plain_.back()->first(), plain_.back()->last(), plain_.back().get());
  }
}

bool Chip::load(Addr addr, std::span<const std::uint8_t> bytes) {
  auto copy_into = [&](std::span<std::uint8_t> area, Addr base) {
    if (addr < base || addr - base > area.size() || area.size() - (addr - base) < bytes.size()) {
      return false;
    }
    std::copy(bytes.begin(), bytes.end(), area.begin() + (addr - base));
    return true;
  };
  return copy_into(bus_.flash(), map_.flash_base) || copy_into(bus_.ram(), map_.ram_base);
}

void Chip::reset_modules() {
  sci_.reset();
  flash_.reset();
  if (watchdog_tiny_) watchdog_tiny_->reset();
  if (watchdog_3067_) watchdog_3067_->reset();
  for (auto& block : plain_) block->reset();
}

void Chip::reset() {
  trace_.add({FlashRecord::Kind::kReset, clock_.now(), "pin"});
  reset_modules();
  cpu_.reset();
}

void Chip::watchdog_reset(const std::string& cause) {
  trace_.add({FlashRecord::Kind::kReset, clock_.now(), cause});
  reset_modules();
  if (reset_hook_) {
    reset_hook_();
  } else {
    cpu_.request_reset();
  }
}

}  // namespace h8sim
