#include "isa.h"

#include <gtest/gtest.h>

#include "disasm.h"
#include "exec.h"

namespace h8sim {
namespace {

TEST(InstructionTableTest, BuildsWithoutOverlaps) {
  Decoder decoder;
  std::string error;
  EXPECT_TRUE(build_decoder(instruction_table(), &Exec::group, &Exec::illegal, &decoder, &error))
      << error;
}

// Two rows that some instruction word matches both: the build must refuse them and name them.
TEST(InstructionTableTest, RefusesOverlappingEncodings) {
  std::vector<InsnSpec> table(instruction_table().begin(), instruction_table().end());
  InsnSpec clash = table.front();  // mov.b #xx:8,Rd is F0xx..FFxx
  clash.match = {0xF800, 0, 0};
  clash.mask = {0xFF00, 0, 0};
  clash.mnemonic = "clash";
  table.push_back(clash);
  Decoder decoder;
  std::string error;
  EXPECT_FALSE(build_decoder(table, &Exec::group, &Exec::illegal, &decoder, &error));
  EXPECT_NE(error.find("clash"), std::string::npos) << error;
}

}  // namespace
}  // namespace h8sim
