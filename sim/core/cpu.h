// The H8/300H CPU: registers, the instruction set of the H8/300H in normal and advanced mode,
// exceptions (reset, TRAPA, RTE) and the run loop over the Clock.
//
// The CPU knows nothing of the chip's modules: it reads and writes through the Bus, charges
// its internal states into the Clock, and between instructions lets the Clock run the modules'
// due events. Each instruction runs to completion.
#pragma once

#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "bus.h"
#include "clock.h"
#include "io_device.h"
#include "isa.h"
#include "memory_map.h"

namespace h8sim {

// The longest instruction: five words (MOV.L @(d:24,ERs)).
inline constexpr Addr kLongestInsnBytes = 10;

// One fetched instruction as its handler sees it. `bytes` points at kLongestInsnBytes readable
// bytes that start with the instruction's own (straight into the RAM or flash array when the
// code runs from there); bytes past the instruction's length mean nothing.
struct Insn {
  const std::uint8_t* bytes;
  Addr pc;  // address of the instruction's first byte
};

enum class StopReason {
  kDeadline,            // the clock reached run()'s `until`
  kSleep,               // a SLEEP instruction executed (pc: the instruction after it)
  kIllegalInstruction,  // not an H8/300H instruction (H8S-only forms included)
  kUnsupported,         // an H8/300H instruction this simulator does not run (MOVFPE/MOVTPE)
  kUnmappedAccess,      // a read or write where the chip has nothing
  kStopRequested,       // Clock::request_stop() (message: its reason)
  kStateBudget,         // the clock passed the state budget
};

struct StopResult {
  StopReason reason;
  Addr pc;              // the instruction concerned (see StopReason), else the next one to run
  std::string message;  // for everything but kDeadline: one line naming the pc and the cause
};

// The CCR bits.
inline constexpr std::uint8_t kCcrI = 0x80, kCcrUi = 0x40, kCcrH = 0x20, kCcrU = 0x10, kCcrN = 0x08,
                              kCcrZ = 0x04, kCcrV = 0x02, kCcrC = 0x01;

class Cpu {
 public:
  // The mode must match the chip's (normal for the H8/3664F, advanced for the others).
  Cpu(Bus& bus, Clock& clock, CpuMode mode);
  Cpu(const Cpu&) = delete;
  Cpu& operator=(const Cpu&) = delete;

  // Hardware reset: I set, PC from vector 0 (a word in normal mode, the low 24 bits of a
  // longword in advanced mode). Registers keep their values. Charges the vector read.
  void reset();
  // A reset asked for by a module (a watchdog overflow); it takes effect before the next
  // instruction of the running loop, or at the start of the next run().
  void request_reset();

  Addr pc() const { return pc_; }
  void set_pc(Addr pc) { pc_ = pc & addr_mask_; }
  std::uint32_t er(int n) const { return er_[n & 7]; }
  void set_er(int n, std::uint32_t value) { er_[n & 7] = value; }
  std::uint8_t ccr() const;
  void set_ccr(std::uint8_t value);
  CpuMode mode() const { return mode_; }

  // Told after every RTS; nullptr removes the observer.
  void set_observer(ExecutionObserver* observer) { observer_ = observer; }

  // run() stops with kStateBudget once the clock has passed `max_states` (kNever: no budget).
  void set_state_budget(States max_states) { budget_ = max_states; }

  // Runs instructions until the clock reaches `until` (kDeadline), running the Clock's due
  // events at their deadlines, or until something stops the run (see StopReason). A stop
  // requested on the Clock is left set; clear it before running on.
  StopResult run(States until = kNever);

  // Instructions executed since construction.
  std::uint64_t instructions() const { return instructions_; }
  // States charged so far: the clock's time.
  States states() const { return clock_.now(); }

  // The instruction at `addr` as text ("mov.w\t@(0x10:16,er1),r2"), read with Bus::peek8 and
  // its byte length in *length (2 for an illegal word, shown as ".word\t0x...").
  std::string disassemble(Addr addr, int* length = nullptr) const;

  friend struct Exec;  // the instruction handlers

 private:
  // Runs instructions until the clock reaches the bus's span limit (which attention drops).
  void run_span();
  // Fetches and runs one instruction through the bus, word by word: code outside RAM and
  // flash, or too near the end of either to read the longest instruction from the array.
  void step_slow();
  // Decodes the instruction whose bytes start at `bytes` (kLongestInsnBytes readable) into
  // `slot`, keyed by the opcode bytes the decision rests on.
  void decode_into(DecodedInsn* slot, const std::uint8_t* bytes) const;
  // Ends the running loop after the current instruction with this result.
  void stop(StopReason reason, Addr pc, std::string message);
  StopResult fault_stop(const Bus::Fault& fault);
  // "0x001234" in advanced mode, "0x1234" in normal mode.
  std::string format_addr(Addr addr) const;

  Bus& bus_;
  Clock& clock_;
  CpuMode mode_;
  Addr addr_mask_;
  const Decoder* decoder_;
  Addr insn_pc_ = 0;  // address of the instruction being run
  std::array<std::uint32_t, 8> er_{};
  Addr pc_ = 0;
  // CCR kept as separate flags (each 0 or 1) for the hot paths; ccr() assembles them.
  std::uint8_t ccr_iuu_ = kCcrI;  // the I, UI and U bits
  std::uint8_t h_ = 0, n_ = 0, z_ = 0, v_ = 0, c_ = 0;
  // The decoded instruction at every even address of RAM and flash, checked against the
  // array's current bytes on every fetch (so code that is loaded, programmed or rewritten is
  // decoded again on its next run without anyone telling the CPU).
  struct FreeSlots {
    void operator()(DecodedInsn* slots) const { std::free(slots); }
  };
  using SlotTable = std::unique_ptr<DecodedInsn[], FreeSlots>;
  static SlotTable make_slots(std::size_t count);
  SlotTable ram_decoded_;
  SlotTable flash_decoded_;
  ExecutionObserver* observer_ = nullptr;
  States budget_ = kNever;
  std::uint64_t instructions_ = 0;
  bool reset_pending_ = false;
  bool stopped_ = false;
  StopResult stop_{StopReason::kDeadline, 0, {}};
};

}  // namespace h8sim
