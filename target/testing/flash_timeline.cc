#include "flash_timeline.h"

#include <cstdio>

#include "flash_control.h"

namespace vexlo::testing {

namespace {

using h8sim::FlashRecord;
using Kind = FlashRecord::Kind;

constexpr Addr kBrrOffset = 1, kScrOffset = 2, kTdrOffset = 3;
// The clearing instruction's own states before its write reaches FLMCR1 (fetch and read).
constexpr States kClearInstructionStates = 8;

bool is_bit_change(const FlashRecord& r) { return r.kind == Kind::kSet || r.kind == Kind::kClear; }
bool is(const FlashRecord& r, Kind kind, const char* bit) {
  return r.kind == kind && r.text == bit;
}

// The first record at or after index `from` that satisfies `pred`, or nullptr.
template <typename Pred>
const FlashRecord* next_record(const std::vector<FlashRecord>& records, std::size_t from,
                               Pred pred) {
  for (std::size_t i = from; i < records.size(); ++i) {
    if (pred(records[i])) return &records[i];
  }
  return nullptr;
}

// The first logged access after time `after` that satisfies `pred`, or nullptr.
template <typename Pred>
const Access* next_access(const std::vector<Access>& log, std::size_t from, States after,
                          Pred pred) {
  for (std::size_t i = from; i < log.size(); ++i) {
    if (log[i].at > after && pred(log[i])) return &log[i];
  }
  return nullptr;
}

bool programming_write(const Access& a) { return a.write && !(a.flmcr1 & h8sim::kFlmcrPv); }
bool dummy_write(const Access& a) { return a.write && (a.flmcr1 & h8sim::kFlmcrPv); }
bool flash_read(const Access& a) { return !a.write; }

}  // namespace

PulseFigures pulse_figures(const Target& t) {
  if (t.model == ChipModel::k3664f) return {30 * 8, 200 * 8, 10 * 8};
  return {300 * 8, 1000 * 8, 0};
}

WaitFigures wait_figures(const Target& t) {
  if (t.model == ChipModel::k3664f) {
    return {200 * 10, 1 * 10, 50 * 10, 5 * 10, 5 * 10, 4 * 10, 2 * 10, 2 * 10, 100 * 10};
  }
  return {280 * 10, 20 * 10, 100 * 10, 20 * 10, 20 * 10, 8 * 10, 4 * 14, 8 * 10, 200 * 10};
}

std::string pulse_kinds(const Target& target, const h8sim::FlashTrace& trace, std::size_t from) {
  const PulseFigures f = pulse_figures(target);
  const States span = target.pulse_pass_states + kClearInstructionStates;
  auto near = [span](States width, States figure) {
    return figure != 0 && width >= figure && width < figure + span;
  };
  std::string kinds;
  const auto& records = trace.records();
  for (std::size_t i = from; i < records.size(); ++i) {
    if (records[i].kind != Kind::kPulse) continue;
    const States w = records[i].width;
    kinds += near(w, f.short_pulse)  ? 'S'
             : near(w, f.long_pulse) ? 'L'
             : near(w, f.additional) ? 'A'
                                     : '?';
  }
  return kinds;
}

std::string flagged(WriterSession& s) {
  std::string text;
  const h8sim::FlashTrace& trace = s.trace();
  for (const FlashRecord& r : trace.records()) {
    if (r.kind == Kind::kMisuse || r.kind == Kind::kReset) text += trace.line(r) + "\n";
  }
  for (const Access& a : s.flash_log()) {
    if (flash_read(a) && !(a.flmcr1 & h8sim::kFlmcrPv)) {
      char line[96];
      std::snprintf(line, sizeof line, "%llu flash read at 0x%06X outside program-verify mode\n",
                    static_cast<unsigned long long>(a.at), static_cast<unsigned>(a.addr));
      text += line;
    }
  }
  return text;
}

std::vector<Wait> measured_waits(WriterSession& s, const BlockOutcome& block) {
  const WaitFigures f = wait_figures(s.target());
  const auto& records = s.trace().records();
  const auto& flash = s.flash_log();
  std::vector<Wait> waits;
  auto add = [&waits](const char* name, States from, const void* found, States to, States figure) {
    if (found != nullptr) waits.push_back({name, to - from, figure});
  };

  const Addr sci_base = s.chip().sci().base();
  const auto& sci = s.sci_log();
  for (std::size_t i = 0; i < sci.size(); ++i) {
    if (!(sci[i].write && sci[i].addr == sci_base + kBrrOffset)) continue;
    const Access* scr = next_access(sci, i + 1, sci[i].at, [&](const Access& a) {
      return a.write && a.addr == sci_base + kScrOffset;
    });
    add("serial set-up", sci[i].at, scr, scr ? scr->at : 0, f.sci_init);
    break;
  }

  for (std::size_t i = block.trace_from; i < records.size(); ++i) {
    const FlashRecord& r = records[i];
    if (is(r, Kind::kSet, "SWE")) {
      const Access* w = next_access(flash, block.flash_from, r.at, programming_write);
      add("after SWE set", r.at, w, w ? w->at : 0, f.after_swe);
    } else if (is(r, Kind::kSet, "PSU")) {
      const FlashRecord* p =
          next_record(records, i + 1, [](auto& x) { return is(x, Kind::kSet, "P"); });
      add("after PSU set", r.at, p, p ? p->at : 0, f.after_psu);
    } else if (is(r, Kind::kClear, "P")) {
      const FlashRecord* psu =
          next_record(records, i + 1, [](auto& x) { return is(x, Kind::kClear, "PSU"); });
      add("after P cleared", r.at, psu, psu ? psu->at : 0, f.after_p);
    } else if (is(r, Kind::kClear, "PSU")) {
      const FlashRecord* next = next_record(records, i + 1, is_bit_change);
      add("after PSU cleared", r.at, next, next ? next->at : 0, f.after_psu_cleared);
    } else if (is(r, Kind::kSet, "PV")) {
      const Access* w = next_access(flash, block.flash_from, r.at, dummy_write);
      add("after PV set", r.at, w, w ? w->at : 0, f.after_pv);
    } else if (is(r, Kind::kClear, "PV")) {
      const FlashRecord* next = next_record(records, i + 1, is_bit_change);
      const Access* w = next_access(flash, block.flash_from, r.at, programming_write);
      States to = next ? next->at : 0;
      if (w != nullptr && (next == nullptr || w->at < to)) to = w->at;
      add("after PV cleared", r.at, next ? static_cast<const void*>(next) : w, to,
          f.after_pv_cleared);
    } else if (is(r, Kind::kClear, "SWE")) {
      const Access* tdr = next_access(sci, block.sci_from, r.at, [&](const Access& a) {
        return a.write && a.addr == sci_base + kTdrOffset;
      });
      add("after SWE cleared", r.at, tdr, tdr ? tdr->at : 0, f.after_swe_cleared);
    }
  }
  for (std::size_t i = block.flash_from; i < flash.size(); ++i) {
    if (!dummy_write(flash[i])) continue;
    const Access* read = next_access(flash, i + 1, flash[i].at, flash_read);
    add("dummy write to verify read", flash[i].at, read, read ? read->at : 0, f.settle);
  }
  return waits;
}

}  // namespace vexlo::testing
