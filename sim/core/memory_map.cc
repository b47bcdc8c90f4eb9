#include "memory_map.h"

namespace h8sim {
namespace {

// On-chip flash and RAM sit on the internal 16-bit bus: 2 states for a byte or a word.
constexpr States kOnChipStates = 2;

// The H8/3067 series' internal I/O registers mostly sit on an 8-bit, 3-state bus: a byte
// access takes 3 states, a word access two of them (6). (The 16-bit timer and DMAC registers
// are 3-state 16-bit; none of the simulated modules lives there.)
constexpr IoArea kH83067IoLow{0xFEE000, 0xFEE0FF, 3, 6};
constexpr IoArea kH83067IoHigh{0xFFFF20, 0xFFFFE9, 3, 6};

constexpr ChipMap kH83067F{
    .model = ChipModel::k3067f,
    .name = "H8/3067F",
    .mode = CpuMode::kAdvanced,
    .clock_hz = 20'000'000,
    .flash_base = 0x000000,
    .flash_size = 0x20000,  // 128 KB
    .ram_base = 0xFFEF20,
    .ram_size = 0x1000,  // 4 KB, up to 0xFFFF1F
    .memory_states = kOnChipStates,
    .io_areas = {kH83067IoLow, kH83067IoHigh},
    .io_area_count = 2,
};

constexpr ChipMap kH83068F{
    .model = ChipModel::k3068f,
    .name = "H8/3068F",
    .mode = CpuMode::kAdvanced,
    .clock_hz = 20'000'000,
    .flash_base = 0x000000,
    .flash_size = 0x60000,  // 384 KB
    .ram_base = 0xFFBF20,
    .ram_size = 0x4000,  // 16 KB, up to 0xFFFF1F
    .memory_states = kOnChipStates,
    .io_areas = {kH83067IoLow, kH83067IoHigh},
    .io_area_count = 2,
};

// The H8/3664's registers take 2 or 3 states depending on the module; the serial, flash and
// watchdog registers are taken as 3-state 8-bit registers.
constexpr ChipMap kH83664F{
    .model = ChipModel::k3664f,
    .name = "H8/3664F",
    .mode = CpuMode::kNormal,
    .clock_hz = 16'000'000,
    .flash_base = 0x0000,
    .flash_size = 0x8000,  // 32 KB
    .ram_base = 0xF780,
    .ram_size = 0x800,  // 2 KB, up to 0xFF7F
    .memory_states = kOnChipStates,
    .io_areas = {IoArea{0xFF80, 0xFFFF, 3, 6}, IoArea{}},
    .io_area_count = 1,
};

}  // namespace

const ChipMap& chip_map(ChipModel model) {
  switch (model) {
    case ChipModel::k3067f:
      return kH83067F;
    case ChipModel::k3068f:
      return kH83068F;
    case ChipModel::k3664f:
      break;
  }
  return kH83664F;
}

std::optional<ChipModel> parse_chip_model(std::string_view text) {
  if (text == "3067f") return ChipModel::k3067f;
  if (text == "3068f") return ChipModel::k3068f;
  if (text == "3664f") return ChipModel::k3664f;
  return std::nullopt;
}

}  // namespace h8sim
