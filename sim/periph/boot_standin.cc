#include "boot_standin.h"

namespace h8sim {

BootStandIn::BootStandIn(const Faults& faults, unsigned zeros_to_adjust, std::uint32_t max_size,
                         Hooks hooks)
    : faults_(faults),
      zeros_to_adjust_(zeros_to_adjust == 0 ? 1 : zeros_to_adjust),
      max_size_(max_size),
      hooks_(std::move(hooks)) {}

void BootStandIn::restart() {
  phase_ = Phase::kAdjusting;
  zeros_ = 0;
  size_ = 0;
  received_ = 0;
}

void BootStandIn::send_checked(std::uint8_t value, bool corrupt) {
  hooks_.send(corrupt ? static_cast<std::uint8_t>(~value) : value);
}

void BootStandIn::receive(std::uint8_t value) {
  switch (phase_) {
    case Phase::kAdjusting:
      // The bit rate is measured on a run of 0x00 frames; anything else starts the run over.
      zeros_ = value == kBootZero ? zeros_ + 1 : 0;
      if (zeros_ < zeros_to_adjust_ || faults_.no_answer) return;
      if (!hooks_.adjust()) {
        zeros_ = 0;
        return;
      }
      hooks_.send(faults_.first_byte.value_or(kBootZero));
      phase_ = Phase::kAwaitInquiry;
      return;
    case Phase::kAwaitInquiry:
      if (value != kBootInquiry) return;
      hooks_.send(faults_.after_55.value_or(kBootAck));
      phase_ = Phase::kSizeHigh;
      return;
    case Phase::kSizeHigh:
      send_checked(value, faults_.echo_size_high);
      size_ = std::uint32_t{value} << 8;
      phase_ = Phase::kSizeLow;
      return;
    case Phase::kSizeLow:
      send_checked(value, faults_.echo_size_low);
      size_ |= value;
      phase_ = (size_ == 0 || size_ > max_size_) ? Phase::kFailed : Phase::kProgram;
      return;
    case Phase::kProgram:
      hooks_.store(received_, value);
      ++received_;
      send_checked(value, faults_.echo_data == received_);
      if (received_ < size_) return;
      hooks_.erase();
      phase_ = Phase::kDone;
      if (faults_.no_ack) {
        hooks_.send(kBootEraseFailed);
        return;
      }
      hooks_.send(kBootAck);
      hooks_.start();
      return;
    case Phase::kDone:
    case Phase::kFailed:
      return;
  }
}

}  // namespace h8sim
