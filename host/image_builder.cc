#include "image_builder.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

#include "image_file.h"
#include "profiles/chip_profile.h"
#include "run_end.h"
#include "srecord.h"

namespace vexlo {

std::string sfile_name;

namespace {

constexpr std::uint8_t kErased = 0xFF;
constexpr std::size_t kFillChunk = 4096;

std::string image_path() { return std::string(active_profile.image_name); }

void close_file(std::FILE*& file) {
  if (file != nullptr) std::fclose(file);
  file = nullptr;
}

// A failure after the image file has been created: its text, the files closed, the image file
// deleted, the end of the run.
[[noreturn]] void image_failure(const char* text, std::FILE*& image, std::FILE*& sfile) {
  close_file(image);
  close_file(sfile);
  std::fputs(text, stderr);
  delete_image_file();
  end_run();
}

// Creates the image file full of 0xFF and closes it; false if a write or the close fails.
bool write_empty_image(std::FILE* file) {
  std::array<std::uint8_t, kFillChunk> erased;
  erased.fill(kErased);
  for (std::uint32_t left = active_profile.image_size; left > 0;) {
    const std::size_t n = left < erased.size() ? left : erased.size();
    if (std::fwrite(erased.data(), 1, n, file) != n) {
      std::fclose(file);
      return false;
    }
    left -= static_cast<std::uint32_t>(n);
  }
  return std::fclose(file) == 0;
}

enum class PlaceResult { kDone, kBadRecord, kWriteFailed };

// Places the data bytes of an S1, S2 or S3 record whose start address lies inside the image;
// ignores every other token. Bytes after the end of the image are written too (the file grows)
// but are never sent to the chip.
PlaceResult place_record(const TokenReader& tokens, ImageWindow& image) {
  DataRecord record;
  switch (parse_record(tokens.token(), tokens.length(), record)) {
    case RecordKind::kIgnored:
      return PlaceResult::kDone;
    case RecordKind::kBad:
      return PlaceResult::kBadRecord;
    case RecordKind::kData:
      break;
  }
  if (record.address >= active_profile.image_size || record.size == 0) return PlaceResult::kDone;
  return image.place(record.address, record.data.data(), record.size) ? PlaceResult::kDone
                                                                      : PlaceResult::kWriteFailed;
}

void place_records(std::FILE*& image_file, std::FILE*& sfile) {
  ImageWindow image(image_file);
  TokenReader tokens(sfile);
  for (;;) {
    switch (tokens.next()) {
      case TokenReader::Status::kEnd:
        if (!image.flush()) image_failure("Can't write ROM Image file.\n", image_file, sfile);
        return;
      case TokenReader::Status::kReadError:
        image_failure("Can't read S-record file.\n", image_file, sfile);
      case TokenReader::Status::kToken:
        break;
    }
    switch (place_record(tokens, image)) {
      case PlaceResult::kDone:
        break;
      case PlaceResult::kBadRecord: {
        const std::string text = "Bad S-record at line " + std::to_string(tokens.line()) + ".\n";
        image_failure(text.c_str(), image_file, sfile);
      }
      case PlaceResult::kWriteFailed:
        image_failure("Can't write ROM Image file.\n", image_file, sfile);
    }
  }
}

}  // namespace

void build_image() {
  std::fputs("Making Image.\r", stderr);
  std::fflush(stderr);

  std::FILE* image_file = std::fopen(image_path().c_str(), "wb");
  std::FILE* sfile = nullptr;
  if (image_file == nullptr) {
    std::fputs("Can't create ROM Image file.\n", stderr);
    end_run();
  }
  const bool filled = write_empty_image(image_file);
  image_file = nullptr;
  if (!filled) image_failure("Can't write ROM Image file.\n", image_file, sfile);

  sfile = std::fopen(sfile_name.c_str(), "r");
  if (sfile == nullptr) image_failure("file not found!\n", image_file, sfile);
  image_file = std::fopen(image_path().c_str(), "r+b");
  if (image_file == nullptr) image_failure("Can't write ROM Image file.\n", image_file, sfile);

  place_records(image_file, sfile);

  const bool closed = std::fclose(image_file) == 0;
  image_file = nullptr;
  if (!closed) image_failure("Can't write ROM Image file.\n", image_file, sfile);
  close_file(sfile);
}

void delete_image_file() { std::remove(image_path().c_str()); }

}  // namespace vexlo
