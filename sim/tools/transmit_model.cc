#include "transmit_model.h"

#include <utility>

namespace h8sim {
namespace {

constexpr Addr kSci1Smr = 0xFFFFB8;  // H8/3067F, H8/3068F: SMR1..RDR1
constexpr Addr kSci3Smr = 0xFFA8;    // H8/3664F: SMR..RDR of SCI3

}  // namespace

TransmitModel::TransmitModel(ChipModel model, Sink sink)
    : first_(model == ChipModel::k3664f ? kSci3Smr : kSci1Smr),
      sends_on_tdr_write_(model == ChipModel::k3664f),
      sink_(std::move(sink)) {}

std::uint8_t TransmitModel::read8(Addr addr) {
  Addr offset = addr - first_;
  if (offset == kSsrOffset) return registers_[offset] | kSsrTdre | kSsrTend;
  return registers_[offset];
}

void TransmitModel::write8(Addr addr, std::uint8_t value) {
  Addr offset = addr - first_;
  registers_[offset] = value;
  if (offset == kTdrOffset) {
    if (sends_on_tdr_write_) {
      sink_(value);
    } else {
      tdr_full_ = true;
    }
  } else if (offset == kSsrOffset && (value & kSsrTdre) == 0 && tdr_full_) {
    tdr_full_ = false;
    sink_(registers_[kTdrOffset]);
  }
}

}  // namespace h8sim
