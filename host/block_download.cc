#include "block_download.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

#include "profiles/chip_profile.h"
#include "run_end.h"
#include "serial_link.h"

namespace vexlo {

namespace {

constexpr std::uint8_t kBlockAccepted = 'S';

struct ImageReader {
  std::FILE* file = nullptr;
  ~ImageReader() {
    if (file != nullptr) std::fclose(file);
  }
};

// The image file the image stage built moments before could not be read back: nothing is
// sent from a file that is not there.
[[noreturn]] void image_unreadable(ImageReader& image) {
  if (image.file != nullptr) std::fclose(image.file);
  image.file = nullptr;
  std::fputs("Can't read ROM Image file.\n", stderr);
  delete_image_file();
  restore_port();
  end_run();
}

void send_block_number(std::uint32_t k) {
  if (active_profile.block_number_bytes == 2) send_byte(static_cast<std::uint8_t>(k >> 8));
  send_byte(static_cast<std::uint8_t>(k));
}

void print_progress(std::uint32_t k) {
  const unsigned long first = static_cast<unsigned long>(k) * active_profile.block_size;
  std::fprintf(stderr, "\r%08lX -- %08lX", first, first + active_profile.block_size - 1);
  std::fflush(stderr);
}

}  // namespace

int download_blocks() {
  std::fputs("writing..\n", stderr);
  ImageReader image;
  image.file = std::fopen(std::string(active_profile.image_name).c_str(), "rb");
  if (image.file == nullptr) image_unreadable(image);

  // Its own buffer: sending a byte never touches a byte of the block still to be sent.
  std::array<std::uint8_t, kMaxBlockSize> block_buffer{};
  const std::size_t size = active_profile.block_size;
  int result = 0;
  for (std::uint32_t k = 0; k < active_profile.block_count && result == 0; ++k) {
    const long offset = static_cast<long>(k * size);
    if (std::fseek(image.file, offset, SEEK_SET) != 0 ||
        std::fread(block_buffer.data(), 1, size, image.file) != size) {
      image_unreadable(image);
    }
    if (std::equal(block_buffer.begin(), block_buffer.begin() + static_cast<std::ptrdiff_t>(size),
                   active_profile.blank_pattern.begin())) {
      continue;
    }
    send_block_number(k);
    for (std::size_t i = 0; i < size; ++i) send_byte(block_buffer[i]);
    print_progress(k);
    const int reply = wait_byte();
    if (reply != kBlockAccepted) {
      std::fprintf(stderr, "\nEEPROM Writing is failed.(%c)\n", reply);
      result = -1;
    }
  }

  std::fclose(image.file);
  image.file = nullptr;
  delete_image_file();
  if (result == 0) std::fputs("\nEEPROM Writing is successed.\n", stderr);
  restore_port();
  return result;
}

}  // namespace vexlo
