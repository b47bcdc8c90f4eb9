// The writing programs, as the 1024-byte images the host sends through the chip's boot mode:
// the program from its first byte on, then 0xFF up to the 1024th byte.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vexlo {

inline constexpr std::size_t kWriterImageSize = 1024;
using WriterImage = std::array<std::uint8_t, kWriterImageSize>;

extern const WriterImage kWriterImage3067f;  // linked at 0xFFF400, advanced mode
extern const WriterImage kWriterImage3068f;  // linked at 0xFFC720, advanced mode
extern const WriterImage kWriterImage3664f;  // linked at 0xF780, normal mode

}  // namespace vexlo
