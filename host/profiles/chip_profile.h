// The chip profile: everything in which the three deliverables differ, one constant table per
// chip. Each deliverable links exactly one profile file, which defines `active_profile`; the
// stages of a run read their chip-specific values from it and from nowhere else.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "writer_images.h"

namespace vexlo {

struct ChipProfile {
  std::string_view program_name;  // first word of the usage text; stem of image_name
  std::string_view chip_name;     // in the connecting line, the abort line and the ready banner
  std::string_view banner_date;   // "yy/mm/dd" style, printed in the ready banner
  std::string_view image_name;    // ROM image file in the working directory: program_name + ".bin"
  std::uint32_t image_size;       // bytes of flash the run covers; also the bound on record starts
  std::uint32_t block_size;       // image bytes per download block
  std::uint32_t block_count;      // image_size / block_size; block numbers 0 .. block_count - 1
  unsigned block_number_bytes;    // 2: block number high byte then low byte; 1: low byte only
  const WriterImage* writer_image;              // sent whole through the boot mode
  std::span<const std::uint8_t> blank_pattern;  // block_size bytes of 0xFF: a blank block
};

// The largest download block any profile may have.
inline constexpr std::uint32_t kMaxBlockSize = 256;

// block_size bytes of erased flash.
template <std::size_t kBlockSize>
inline constexpr auto kBlankBlock = [] {
  std::array<std::uint8_t, kBlockSize> block{};
  block.fill(0xFF);
  return block;
}();

// Checks the invariants that the image builder, the download and the writing program rely on.
constexpr bool profile_is_consistent(const ChipProfile& p) {
  const std::uint32_t last_block = p.block_count - 1;
  const bool number_fits = p.block_number_bytes == 2   ? last_block <= 0xFFFF
                           : p.block_number_bytes == 1 ? last_block <= 0xFF
                                                       : false;
  return p.block_size != 0 && p.block_size <= kMaxBlockSize && p.image_size % p.block_size == 0 &&
         p.block_count * p.block_size == p.image_size && p.image_size % 2 == 0 && number_fits &&
         p.blank_pattern.size() == p.block_size;
}

// The one profile of this deliverable.
extern const ChipProfile active_profile;

}  // namespace vexlo
