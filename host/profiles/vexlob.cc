// Profile of vexlob, the writer for the H8/3664F.
#include "chip_profile.h"

namespace vexlo {

namespace {
constexpr ChipProfile kVexlob{
    .program_name = "vexlob",
    .chip_name = "H8/3664F",
    .banner_date = "02/07/12",
    .image_name = "vexlob.bin",
    .image_size = 0x8000,
    .block_size = 128,
    .block_count = 256,
    .block_number_bytes = 1,
    .writer_image = &kWriterImage3664f,
    .blank_pattern = kBlankBlock<128>,
};
static_assert(profile_is_consistent(kVexlob));
}  // namespace

extern constexpr ChipProfile active_profile = kVexlob;

}  // namespace vexlo
