// Profile of vexloa, the writer for the H8/3067F.
#include "chip_profile.h"

namespace vexlo {

namespace {
constexpr ChipProfile kVexloa{
    .program_name = "vexloa",
    .chip_name = "H8/3067F",
    .banner_date = "01/12/06",
    .image_name = "vexloa.bin",
    .image_size = 0x20000,
    .block_size = 32,
    .block_count = 4096,
    .block_number_bytes = 2,
    .writer_image = &kWriterImage3067f,
    .blank_pattern = kBlankBlock<32>,
};
static_assert(profile_is_consistent(kVexloa));
}  // namespace

extern constexpr ChipProfile active_profile = kVexloa;

}  // namespace vexlo
