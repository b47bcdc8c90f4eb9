// Profile of vexloc, the writer for the H8/3068F.
#include "chip_profile.h"

namespace vexlo {

namespace {
constexpr ChipProfile kVexloc{
    .program_name = "vexloc",
    .chip_name = "H8/3068F",
    .banner_date = "01/12/06",
    .image_name = "vexloc.bin",
    .image_size = 0x60000,
    .block_size = 32,
    .block_count = 12288,
    .block_number_bytes = 2,
    .writer_image = &kWriterImage3068f,
    .blank_pattern = kBlankBlock<32>,
};
static_assert(profile_is_consistent(kVexloc));
}  // namespace

extern constexpr ChipProfile active_profile = kVexloc;

}  // namespace vexlo
