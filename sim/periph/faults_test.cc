#include "faults.h"

#include <gtest/gtest.h>

namespace h8sim {
namespace {

TEST(FaultsTest, ParsesEveryFault) {
  Faults f;
  std::string err;
  for (const char* spec : {"no-answer", "first-byte=FF", "after-55=0x55", "echo-size-high",
                           "echo-size-low", "echo-data=1024", "no-ack", "stuck-zero=0x1000",
                           "stuck-zero=17", "slow-cells=5", "drop-byte=3", "hangup-after=0"}) {
    EXPECT_TRUE(parse_fault(spec, f, &err)) << spec << ": " << err;
  }
  EXPECT_TRUE(f.no_answer && f.echo_size_high && f.echo_size_low && f.no_ack);
  EXPECT_EQ(f.first_byte, 0xFF);
  EXPECT_EQ(f.after_55, 0x55);
  EXPECT_EQ(f.echo_data, 1024u);
  EXPECT_EQ(f.stuck_zero, (std::vector<Addr>{0x1000, 17}));
  EXPECT_EQ(f.slow_cells, 5u);
  EXPECT_EQ(f.drop_byte, 3u);
  EXPECT_EQ(f.hangup_after, 0u);
}

TEST(FaultsTest, RejectsMalformed) {
  for (const char* spec :
       {"bogus", "no-ack=1", "first-byte", "first-byte=100", "first-byte=GG", "echo-data=0",
        "drop-byte=", "slow-cells=0", "stuck-zero=0x", "hangup-after=-1"}) {
    Faults f;
    std::string err;
    EXPECT_FALSE(parse_fault(spec, f, &err)) << spec;
    EXPECT_NE(err.find(spec), std::string::npos) << err;
  }
}

}  // namespace
}  // namespace h8sim
