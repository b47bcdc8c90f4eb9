#include "flash_control.h"

#include <cstdio>

namespace h8sim {

namespace {

constexpr std::uint8_t kControlBits =
    kFlmcrSwe | kFlmcrEsu | kFlmcrPsu | kFlmcrEv | kFlmcrPv | kFlmcrE | kFlmcrP;
// The mode bits that SWE must be set for; with SWE clear, setting them has no effect.
constexpr std::uint8_t kNeedSwe = kFlmcrEsu | kFlmcrPsu | kFlmcrEv | kFlmcrPv | kFlmcrE | kFlmcrP;

struct BitName {
  std::uint8_t mask;
  const char* name;
};
// In the order a single write's changes are recorded: SWE first, P last.
constexpr BitName kBitNames[] = {{kFlmcrSwe, "SWE"}, {kFlmcrEsu, "ESU"}, {kFlmcrPsu, "PSU"},
                                 {kFlmcrEv, "EV"},   {kFlmcrPv, "PV"},   {kFlmcrE, "E"},
                                 {kFlmcrP, "P"}};

States us_to_states(std::uint64_t us, std::uint32_t clock_hz) { return us * clock_hz / 1000000u; }

}  // namespace

FlashControl::FlashControl(Clock& clock, const PeriphFacts& facts, std::uint32_t clock_hz,
                           std::span<std::uint8_t> cells, FlashTrace& trace,
                           std::function<void(bool)> route_reads)
    : clock_(clock),
      facts_(facts),
      cells_(cells),
      trace_(trace),
      route_reads_(std::move(route_reads)),
      clock_hz_(clock_hz),
      cell_need_(us_to_states(facts.first_pulse_us, clock_hz) - kPulseToleranceStates),
      longest_pulse_(us_to_states(facts.longest_pulse_us, clock_hz) + kPulseToleranceStates),
      additional_pulse_(facts.additional_pulse_us == 0
                            ? 0
                            : us_to_states(facts.additional_pulse_us, clock_hz) +
                                  kPulseToleranceStates),
      max_accumulated_(us_to_states(facts.max_total_pulse_us, clock_hz) +
                       facts.max_pulse_count * kPulseToleranceStates) {}

void FlashControl::set_slow_cells(unsigned pulses) {
  if (pulses == 0) pulses = 1;
  cell_need_ = pulses * us_to_states(facts_.first_pulse_us, clock_hz_) - kPulseToleranceStates;
}

void FlashControl::add_stuck_zero(Addr offset) {
  if (offset >= cells_.size()) return;
  stuck_zero_.insert(offset);
  cells_[offset] = 0x00;
}

void FlashControl::erase_all() {
  for (std::uint8_t& cell : cells_) cell = 0xFF;
  for (Addr offset : stuck_zero_) cells_[offset] = 0x00;
  accumulated_.clear();
  latches_.clear();
}

void FlashControl::reset() {
  if (pulse_on_) end_pulse();
  record_bit_changes(flmcr1_, 0);
  flmcr1_ = 0;
  other_regs_.fill(0);
  latches_.clear();
  write_span_ = false;
  dummy_written_.reset();
  if (route_reads_) route_reads_(false);
}

States FlashControl::accumulated(Addr offset, int bit) const {
  auto it = accumulated_.find(offset);
  return it == accumulated_.end() ? 0 : it->second[bit & 7];
}

std::string FlashControl::hex(Addr value) const {
  char text[16];
  std::snprintf(text, sizeof text, "0x%06X", static_cast<unsigned>(value));
  return text;
}

void FlashControl::misuse(std::string text) {
  trace_.add({FlashRecord::Kind::kMisuse, clock_.now(), std::move(text)});
}

void FlashControl::record_bit_changes(std::uint8_t old_value, std::uint8_t new_value) {
  for (const BitName& bit : kBitNames) {
    if ((old_value ^ new_value) & bit.mask) {
      trace_.add({(new_value & bit.mask) ? FlashRecord::Kind::kSet : FlashRecord::Kind::kClear,
                  clock_.now(), bit.name});
    }
  }
}

std::uint8_t FlashControl::read8(Addr addr) {
  if (addr == facts_.flmcr1) {
    // FWE reflects the flash write enable pin, high in boot mode, on the H8/3067 series.
    std::uint8_t fwe = facts_.sci_kind == SciKind::kSci ? kFlmcrFwe : 0;
    return flmcr1_ | fwe;
  }
  return other_regs_[(addr - facts_.flmcr1) & 7];
}

void FlashControl::write8(Addr addr, std::uint8_t value) {
  if (addr == facts_.flmcr1) {
    write_flmcr1(value);
    return;
  }
  Addr index = (addr - facts_.flmcr1) & 7;
  if (index == 1) return;  // FLMCR2: FLER is read-only
  other_regs_[index] = value;
}

void FlashControl::write_flmcr1(std::uint8_t value) {
  const std::uint8_t old = flmcr1_;
  std::uint8_t next = value & kControlBits;
  if (!(next & kFlmcrSwe)) {
    std::uint8_t refused = next & kNeedSwe & ~old;
    if (refused) misuse("FLMCR1 mode bit set while SWE is clear (no effect)");
    next &= ~refused;
  }
  flmcr1_ = next;
  record_bit_changes(old, next);

  const std::uint8_t rising = next & ~old, falling = old & ~next;
  if (rising & kFlmcrP) {
    if (!(next & kFlmcrPsu)) {
      misuse("P set without PSU (no programming)");
    } else {
      if (next & kFlmcrPv) misuse("P set in program-verify mode");
      pulse_on_ = true;
      pulse_start_ = clock_.now();
    }
  }
  if ((falling & kFlmcrPsu) && (old & next & kFlmcrP)) misuse("PSU cleared while P is set");
  if (falling & kFlmcrP) {
    if (pulse_on_) end_pulse();
    write_span_ = false;
  }
  if (falling & kFlmcrPv) dummy_written_.reset();
  if (rising & (kFlmcrE | kFlmcrEsu | kFlmcrEv)) {
    misuse("erase control bit set: erasing is left to the boot program");
  }
  if (rising & kFlmcrSwe) {
    read_flagged_ = write_flagged_ = false;
    if (route_reads_) route_reads_(true);
  }
  if (falling & kFlmcrSwe) {
    if (pulse_on_) end_pulse();
    latches_.clear();
    write_span_ = false;
    dummy_written_.reset();
    if (route_reads_) route_reads_(false);
  }
}

void FlashControl::end_pulse() {
  pulse_on_ = false;
  const States width = clock_.now() - pulse_start_;
  trace_.add({FlashRecord::Kind::kPulse, clock_.now(), {}, width});
  if (width > longest_pulse_) {
    char text[128];
    std::snprintf(text, sizeof text, "pulse of %.4f us is longer than the procedure's %u us",
                  trace_.to_us(width), static_cast<unsigned>(facts_.longest_pulse_us));
    misuse(text);
  }
  const bool additional = additional_pulse_ != 0 && width <= additional_pulse_;
  Addr repulsed_first = 0, overdone_first = 0;
  unsigned repulsed = 0, overdone = 0;
  for (const auto& [offset, latched] : latches_) {
    const std::uint8_t zeros = static_cast<std::uint8_t>(~latched);
    if (zeros == 0 || offset >= cells_.size()) continue;
    if ((zeros & ~cells_[offset]) && !additional && !stuck_zero_.count(offset)) {
      if (repulsed++ == 0) repulsed_first = offset;
    }
    auto& acc = accumulated_[offset];
    bool over = false;
    for (int bit = 0; bit < 8; ++bit) {
      if (!(zeros & (1u << bit))) continue;
      const bool was_over = acc[bit] > max_accumulated_;
      acc[bit] += width;
      if (acc[bit] >= cell_need_) cells_[offset] &= static_cast<std::uint8_t>(~(1u << bit));
      over = over || (!was_over && acc[bit] > max_accumulated_);  // flagged once per cell
    }
    if (over && overdone++ == 0) overdone_first = offset;
  }
  if (repulsed) {
    misuse("over-programming: bits that already read 0 pulsed again at " + hex(repulsed_first) +
           " (" + std::to_string(repulsed) + " bytes)");
  }
  if (overdone) {
    misuse("over-programming: accumulated pulse time beyond the procedure's at " +
           hex(overdone_first) + " (" + std::to_string(overdone) + " bytes)");
  }
}

std::uint8_t FlashControl::flash_read8(Addr offset) {
  const std::uint8_t cell = offset < cells_.size() ? cells_[offset] : 0xFF;
  if (flmcr1_ & kFlmcrPv) {
    if (dummy_written_ != offset) {
      misuse("verify read at " + hex(offset) + " without a dummy write before it");
    }
    dummy_written_.reset();
    return cell;
  }
  if ((flmcr1_ & kFlmcrSwe) && !read_flagged_) {
    read_flagged_ = true;
    misuse("flash read at " + hex(offset) + " outside program-verify mode while SWE is set");
  }
  return cell;
}

void FlashControl::flash_write8(Addr offset, std::uint8_t value) {
  if (!(flmcr1_ & kFlmcrSwe)) {
    if (!write_flagged_) {
      write_flagged_ = true;
      misuse("flash write at " + hex(offset) + " outside programming mode (ignored)");
    }
    return;
  }
  if (flmcr1_ & (kFlmcrPsu | kFlmcrP)) {
    misuse("flash write at " + hex(offset) + " during a programming pulse (ignored)");
    return;
  }
  if (flmcr1_ & kFlmcrPv) {
    dummy_written_ = offset;
    verify_span_flagged_ = false;
    latches_.erase(offset);
    return;
  }
  if (!write_span_) {
    write_span_ = true;
    write_span_flagged_ = false;
  }
  if (value == 0xFF) {
    latches_.erase(offset);
  } else {
    latches_[offset] = value;
  }
}

void FlashControl::on_subroutine_return(Addr pc) {
  if (write_span_ && !write_span_flagged_) {
    write_span_flagged_ = true;
    misuse("subroutine return at " + hex(pc) +
           " between the first flash write of an attempt and the clearing of P");
  }
  if (dummy_written_ && !verify_span_flagged_) {
    verify_span_flagged_ = true;
    misuse("subroutine return at " + hex(pc) + " between a dummy write at " + hex(*dummy_written_) +
           " and its verify read");
  }
}

}  // namespace h8sim
