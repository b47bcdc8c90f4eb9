// The serial interface of the simulated chips in asynchronous mode: channel 1 of the H8/3067F
// and H8/3068F (SCI) and SCI3 of the H8/3664F, as the CPU sees them through SMR, BRR, SCR/SCR3,
// TDR, SSR and RDR, and as the line sees them: frames that begin and end at simulated times.
//
// Timing. One bit lasts 32·4^n·(N+1) states (n = SMR bits 1-0, N = BRR); an 8N1 frame is 10
// bits. The transmitter moves TDR into its shift register as soon as TDR holds unsent data and
// the shift register is free (TDRE rises then), and the frame ends 10 bit times later (TEND
// rises then unless more data is waiting). The receiver starts on a frame's start bit and
// samples the middle of each bit at its own bit rate; at the middle of the stop bit (9.5 bit
// times after the start) the byte is complete: RDR is loaded and RDRF rises, or ORER/FER/PER
// rise instead. Every flag is set at the exact state its event happens, whenever the CPU looks;
// nothing depends on the host's speed.
//
// Flag rules. Writing 1 to a status flag does nothing; writing 0 clears it only if it was read
// as 1 since it last rose. On the SCI a TDR write does not clear TDRE and transmission starts
// only once TDRE has been cleared; on SCI3 a TDR write clears TDRE (and TEND) and an RDR read
// clears RDRF. While TE is clear TDRE and TEND read 1 and nothing is sent. A frame whose start
// bit comes while RE is clear is lost, and so is one that completes while RE is clear or while
// an error flag (ORER, FER, PER) is still set. A frame that completes while RDRF is set is lost
// and sets ORER. A frame whose stop bit samples 0 sets FER (RDR is loaded, RDRF is not set):
// that is what a line whose bit rate differs from the receiver's by more than kRateTolerance
// produces, and it is modelled that way outright.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "chip_facts.h"
#include "clock.h"
#include "io_device.h"

namespace h8sim {

// One byte on the serial line, with the simulated times (chip states) its frame begins and ends.
struct LineFrame {
  std::uint8_t value;
  States start;
  States end;
};

// SSR bits.
inline constexpr std::uint8_t kSsrTdre = 0x80, kSsrRdrf = 0x40, kSsrOrer = 0x20, kSsrFer = 0x10,
                              kSsrPer = 0x08, kSsrTend = 0x04, kSsrMpb = 0x02, kSsrMpbt = 0x01;
// SCR bits.
inline constexpr std::uint8_t kScrTe = 0x20, kScrRe = 0x10;
// SMR bits that change the frame format.
inline constexpr std::uint8_t kSmrSync = 0x80, kSmrChr = 0x40, kSmrPe = 0x20, kSmrOddParity = 0x10,
                              kSmrStop2 = 0x08, kSmrCks = 0x03;

// Register offsets from SMR.
inline constexpr Addr kSmrOffset = 0, kBrrOffset = 1, kScrOffset = 2, kTdrOffset = 3,
                      kSsrOffset = 4, kRdrOffset = 5;

// The largest difference between the sender's and the receiver's bit rate at which every bit of
// a frame, the stop bit included, is still sampled inside its own bit cell (about 4 %; the
// receiver's middle-of-bit sampling gives 5 % in theory, less the sampling clock's granularity).
inline constexpr double kRateTolerance = 0.04;

class Sci : public IoDevice {
 public:
  // `base` is the address of SMR; the registers occupy base .. base + 5.
  Sci(Clock& clock, SciKind kind, Addr base);
  Sci(const Sci&) = delete;
  Sci& operator=(const Sci&) = delete;
  ~Sci() override;

  Addr base() const { return base_; }
  Addr last() const { return base_ + kRdrOffset; }

  // Called with every frame the transmitter completes, once its end time has come.
  void set_transmit_sink(std::function<void(const LineFrame&)> sink) { sink_ = std::move(sink); }

  // A frame from the line: `value` in 8N1 format whose start bit begins at `start` (may lie in
  // the future; frames must be given in start order), sent at `line_bit_states` states per bit
  // (fractional: the line's bit rate need not divide the chip's clock).
  void receive_frame(std::uint8_t value, States start, double line_bit_states);

  // Sends `value` after everything already queued, as the boot program does, without going
  // through TDR and TDRE; needs TE. Used by the boot-mode stand-in.
  void boot_transmit(std::uint8_t value);

  // Register state after a reset; frames on their way in are dropped.
  void reset();

  // States per bit at the programmed rate: 32·4^n·(N+1).
  States bit_states() const;
  // Bits per frame in the programmed format (10 for 8N1).
  int frame_bits() const;
  // What SSR, SCR, SMR, BRR read now, without the side effects of a CPU read.
  std::uint8_t peek_ssr();
  std::uint8_t smr() const { return smr_; }
  std::uint8_t brr() const { return brr_; }
  std::uint8_t scr() const { return scr_; }
  // True while nothing is on its way in or out (no frame being sent, queued or received).
  bool idle() const { return !tx_busy_ && backlog_.empty() && rx_.empty(); }
  // CPU reads of SSR since the last change of anything the CPU can see; the serve loop takes a
  // long run of them as a program that only polls for input.
  std::uint64_t polls_since_change() const { return polls_since_change_; }
  States last_poll() const { return last_poll_; }

  std::uint8_t read8(Addr addr) override;
  void write8(Addr addr, std::uint8_t value) override;

 private:
  struct Incoming {
    std::uint8_t value;    // what the receiver will sample
    States start;          // start bit's falling edge
    States complete;       // middle of the stop bit
    bool started = false;  // the receiver has seen the start bit (RE was set then)
    bool lost = false;     // RE was clear at the start bit
    bool framing_error = false;
    bool parity_error = false;
  };

  void sync();        // brings every flag up to the clock's time
  void reschedule();  // keeps one Clock event at the next transition
  States next_transition() const;
  void set_flags(std::uint8_t flags);
  void clear_flags(std::uint8_t flags);
  void start_transmit(States at);
  void finish_transmit();
  void complete_receive(const Incoming& frame);
  void write_ssr(std::uint8_t value);
  void write_scr(std::uint8_t value);
  void changed() { polls_since_change_ = 0; }

  Clock& clock_;
  SciKind kind_;
  Addr base_;
  std::function<void(const LineFrame&)> sink_;

  std::uint8_t smr_ = 0, brr_ = 0xFF, scr_ = 0, tdr_ = 0xFF, rdr_ = 0;
  std::uint8_t ssr_ = kSsrTdre | kSsrTend;
  std::uint8_t read_as_one_ = 0;  // status flags read as 1 since they last rose

  bool tx_busy_ = false;
  LineFrame tx_{};
  std::deque<std::uint8_t> backlog_;  // boot_transmit bytes not yet in the shift register
  std::deque<Incoming> rx_;
  Clock::EventId event_ = 0;
  States event_time_ = kNever;
  std::uint64_t polls_since_change_ = 0;
  States last_poll_ = 0;
};

}  // namespace h8sim
