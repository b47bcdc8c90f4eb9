#include "image_file.h"

#include <algorithm>

namespace vexlo {

bool ImageWindow::place(std::uint32_t offset, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const std::uint32_t base = offset - offset % kWindowSize;
    if (base != base_ && !move_to(base)) return false;
    const std::size_t at = offset - base;
    const std::size_t n = std::min(size, kWindowSize - at);
    std::copy_n(data, n, window_.begin() + static_cast<std::ptrdiff_t>(at));
    dirty_begin_ = std::min(dirty_begin_, at);
    dirty_end_ = std::max(dirty_end_, at + n);
    offset += static_cast<std::uint32_t>(n);
    data += n;
    size -= n;
  }
  return true;
}

bool ImageWindow::flush() {
  if (dirty_begin_ < dirty_end_) {
    const long at = static_cast<long>(base_ + dirty_begin_);
    const std::size_t n = dirty_end_ - dirty_begin_;
    if (std::fseek(file_, at, SEEK_SET) != 0 ||
        std::fwrite(window_.data() + dirty_begin_, 1, n, file_) != n) {
      return false;
    }
  }
  dirty_begin_ = kWindowSize;
  dirty_end_ = 0;
  return std::fflush(file_) == 0;
}

// Writes the current window back and reads the one at `base`. Past the end of the file the
// window reads as 0xFF; only bytes actually placed are ever written back.
bool ImageWindow::move_to(std::uint32_t base) {
  if (!flush()) return false;
  if (std::fseek(file_, static_cast<long>(base), SEEK_SET) != 0) return false;
  const std::size_t got = std::fread(window_.data(), 1, kWindowSize, file_);
  if (std::ferror(file_)) return false;
  std::fill(window_.begin() + static_cast<std::ptrdiff_t>(got), window_.end(), 0xFF);
  base_ = base;
  return true;
}

}  // namespace vexlo
