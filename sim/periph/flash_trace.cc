#include "flash_trace.h"

#include <cstdio>

namespace h8sim {

std::vector<FlashRecord> FlashTrace::of_kind(FlashRecord::Kind kind) const {
  std::vector<FlashRecord> out;
  for (const FlashRecord& r : records_) {
    if (r.kind == kind) out.push_back(r);
  }
  return out;
}

std::string FlashTrace::line(const FlashRecord& record) const {
  char time[64];
  std::snprintf(time, sizeof time, "%llu %.4f ", static_cast<unsigned long long>(record.at),
                to_us(record.at));
  std::string out = time;
  switch (record.kind) {
    case FlashRecord::Kind::kSet:
      return out + "SET " + record.text;
    case FlashRecord::Kind::kClear:
      return out + "CLEAR " + record.text;
    case FlashRecord::Kind::kPulse: {
      char width[64];
      std::snprintf(width, sizeof width, "PULSE %llu %.4f",
                    static_cast<unsigned long long>(record.width), to_us(record.width));
      return out + width;
    }
    case FlashRecord::Kind::kMisuse:
      return out + "MISUSE " + record.text;
    case FlashRecord::Kind::kReset:
      return out + "RESET " + record.text;
  }
  return out;
}

void FlashTrace::write_text(std::ostream& out) const {
  for (const FlashRecord& r : records_) out << line(r) << '\n';
}

}  // namespace h8sim
