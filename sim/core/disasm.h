// Instruction text from the instruction table, in GNU as syntax ("mov.w\t@(0x10:16,er1),r2").
// Branch targets are shown as objdump shows them: ".+18 (0x144)".
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "clock.h"
#include "memory_map.h"

namespace h8sim {

struct Disassembly {
  int length;        // bytes the instruction takes (2 when it is not an instruction)
  std::string text;  // ".word\t0x1234" when the bytes are no H8/300H instruction
};

// `bytes` are the bytes from the instruction's address `pc` on (at least as many as it needs;
// too few reads as ".word").
Disassembly disassemble(std::span<const std::uint8_t> bytes, Addr pc, CpuMode mode);

}  // namespace h8sim
