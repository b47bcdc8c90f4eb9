// The H8/300H instruction set as one table of our own: for every instruction form its
// encoding (match words and masks), byte length, mnemonic and operand modes, and the handler
// that runs it. The same table builds the decoder (a 64K-entry table on the first opcode word)
// and drives the disassembler; building refuses a table in which two forms overlap.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace h8sim {

class Cpu;
struct Insn;

// Operand modes. Field positions count in the instruction's bytes: `nib` is a nibble index
// (0 = high nibble of byte 0), `at` a byte index.
enum class Opk : std::uint8_t {
  kNone,
  kR8,      // byte register R0H..R7L, 4-bit field at nib
  kR16,     // word register R0..E7, 4-bit field at nib
  kR32,     // ER0..ER7, low 3 bits of nib
  kImm8,    // #xx:8 at byte at
  kImm16,   // #xx:16 at byte at
  kImm32,   // #xx:32 at byte at
  kBitNo,   // bit number #xx:3, bits 6..4 of the byte whose high nibble is nib
  kConst1,  // the #1 of ADDS, INC, SUBS, DEC
  kConst2,
  kConst4,
  kInd,      // @ERn, register in the low 3 bits of nib
  kDisp16,   // @(d:16,ERn), register at nib, displacement at byte at
  kDisp24,   // @(d:24,ERn), register at nib, 24-bit displacement at byte at
  kPostInc,  // @ERn+
  kPreDec,   // @-ERn
  kAbs8,     // @aa:8 at byte at (the top 256 bytes of the address space)
  kAbs16,    // @aa:16 at byte at, sign-extended
  kAbs24,    // @aa:24 at byte at (3 bytes)
  kPcRel8,   // d:8 at byte at, from the end of the instruction
  kPcRel16,  // d:16 at byte at
  kMemInd8,  // @@aa:8 at byte at: a branch address read from the vector area
  kCcr,      // the condition code register
  kTrapNo,   // TRAPA #0..3: the low 2 bits of nib
};

struct Operand {
  Opk kind = Opk::kNone;
  std::uint8_t nib = 0;
  std::uint8_t at = 0;
};

using Handler = void (*)(Cpu&, Insn);

inline constexpr int kMaxMatchWords = 3;

// One instruction form. The first `match_words` words of an instruction select it: word i
// matches when (word & mask[i]) == match[i].
struct InsnSpec {
  std::array<std::uint16_t, kMaxMatchWords> match;
  std::array<std::uint16_t, kMaxMatchWords> mask;
  std::uint8_t match_words;
  std::uint8_t length;   // bytes
  const char* mnemonic;  // as GNU as spells it, size suffix included ("mov.b")
  std::array<Operand, 2> operands;
  Handler handler;
};

// The whole H8/300H instruction set. Forms that are not in it are illegal instructions.
std::span<const InsnSpec> instruction_table();

inline constexpr std::uint16_t kNoGroup = 0xFFFF;
inline constexpr std::uint16_t kNoSpec = 0xFFFF;

// The decoder: one entry per first opcode word. Kept to 4 bytes, so the 64K table is small
// enough to build at every start without a noticeable cost.
struct DecodeEntry {
  std::uint16_t spec;   // index in Decoder::table of the one form the word selects, or kNoSpec
  std::uint16_t group;  // index into Decoder::groups when later words decide, else kNoGroup
};

// The forms that share a first word, bucketed by the high byte of their second word.
struct DecodeGroup {
  std::array<std::vector<const InsnSpec*>, 256> by_second_high;
  // The form of a bucket that holds one two-word form alone, else nullptr: the common case,
  // dispatched without a search once the second word matches it.
  std::array<const InsnSpec*, 256> single;
};

struct Decoder {
  std::span<const InsnSpec> table;  // the table it was built from (must outlive the decoder)
  Handler group_handler = nullptr;
  Handler illegal_handler = nullptr;
  std::vector<DecodeEntry> first;   // 65536 entries
  std::vector<DecodeGroup> groups;  // forms told apart by later words

  // The one form that first word `w` selects by itself, or nullptr.
  const InsnSpec* spec_of(std::uint16_t w) const {
    std::uint16_t spec = first[w].spec;
    return spec == kNoSpec ? nullptr : &table[spec];
  }
  // What runs for first word `w`: the form's handler, else the group or illegal handler.
  Handler handler(std::uint16_t w) const {
    const DecodeEntry& entry = first[w];
    if (entry.spec != kNoSpec) return table[entry.spec].handler;
    return entry.group != kNoGroup ? group_handler : illegal_handler;
  }
  // The words to fetch before handler(w) runs: the whole form when the first word decides it,
  // else one.
  unsigned words(std::uint16_t w) const {
    std::uint16_t spec = first[w].spec;
    return spec == kNoSpec ? 1 : table[spec].length / 2;
  }
};

// Builds the decoder for `table`, or returns false with *error naming the first two forms
// whose encodings overlap (some instruction would match both). `group_handler` and
// `illegal_handler` fill the entries of shared and unused first words.
bool build_decoder(std::span<const InsnSpec> table, Handler group_handler, Handler illegal_handler,
                   Decoder* decoder, std::string* error);

// One instruction decoded at a code address, valid while the bytes there match: the first
// eight bytes at the address, masked with `mask` (the opcode words the decoder looked at),
// equal ~`inverted_key`. Stored inverted so that an all-zero slot never matches: slot tables
// come zeroed from the allocator and only the slots of code that runs are ever touched.
struct DecodedInsn {
  std::uint64_t inverted_key;
  std::uint64_t mask;
  Handler handler;
  std::uint32_t length;        // bytes to step over before the handler runs
  std::uint32_t fetch_states;  // states of fetching them

  bool matches(std::uint64_t opcode) const { return (opcode & mask) == ~inverted_key; }
};

// The decoder of instruction_table(), built once; a table with overlapping forms ends the
// program at start-up with the reason on standard error.
const Decoder& cpu_decoder();

// The form among `candidates` (which all match words[0]) that `words` encode, or nullptr;
// *needed as for find_spec.
const InsnSpec* match_group(std::span<const InsnSpec* const> candidates,
                            std::span<const std::uint16_t> words, int* needed);

// The form that `words` (as many as are available) encode, or nullptr. *needed is set to the
// number of words that were needed to decide (more than available: undecided).
const InsnSpec* find_spec(const Decoder& decoder, std::span<const std::uint16_t> words,
                          int* needed);

}  // namespace h8sim
