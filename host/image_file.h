// Byte placement into the ROM image file on disk through a fixed window of it held in memory:
// records land in the window, and the window goes back to the file, in one positioning and
// one write, only when a record lands outside it. The memory used is the same whatever the
// size of the image, and an S-record file in address order costs a handful of file operations
// instead of one per data byte.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace vexlo {

class ImageWindow {
 public:
  // Works on `file`, open for update ("r+b"); the caller keeps ownership.
  explicit ImageWindow(std::FILE* file) : file_(file) {}

  // Places `size` bytes at file offset `offset`. Offsets past the end of the file extend it.
  // False when positioning, reading or writing the file fails.
  bool place(std::uint32_t offset, const std::uint8_t* data, std::size_t size);

  // Writes what the window holds back to the file and flushes the stream; false on failure.
  bool flush();

 private:
  static constexpr std::size_t kWindowSize = 1 << 16;
  static constexpr std::uint32_t kNoWindow = 0xFFFFFFFF;

  bool move_to(std::uint32_t base);

  std::FILE* file_;
  std::uint32_t base_ = kNoWindow;
  std::array<std::uint8_t, kWindowSize> window_{};
  std::size_t dirty_begin_ = kWindowSize;  // the written part: [dirty_begin_, dirty_end_)
  std::size_t dirty_end_ = 0;
};

}  // namespace vexlo
