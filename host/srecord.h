// Reading a Motorola S-record file the way the image builder does: as a stream of tokens (runs
// of characters other than white space), of which only S1, S2 and S3 data records are taken.
// Line ends play no part; a byte 0x1A (Ctrl-Z) ends the file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

namespace vexlo {

// The most characters of a token that a data record can use: byte count 255 leaves up to 252
// data bytes, which end at character 512 in all three record types. Longer tokens are read
// whole; the characters after these are not needed.
inline constexpr std::size_t kTokenKeep = 512;

class TokenReader {
 public:
  enum class Status { kToken, kEnd, kReadError };

  // Reads from `file`, which stays owned by the caller.
  explicit TokenReader(std::FILE* file) : file_(file) {}

  // Reads the next token. kEnd at the end of the file or at a 0x1A byte; the last token is
  // returned even when no white space follows it.
  Status next();

  // The token's first characters (up to kTokenKeep), its full length and the 1-based line on
  // which it starts.
  std::string_view token() const { return {kept_.data(), kept_length_}; }
  std::size_t length() const { return length_; }
  int line() const { return token_line_; }

 private:
  static constexpr int kEndOfInput = -1;
  static constexpr int kInputError = -2;
  int get();
  void count_line_end(int c);

  std::FILE* file_;
  std::array<char, 1 << 16> buffer_{};
  std::size_t buffered_ = 0;
  std::size_t position_ = 0;
  bool ended_ = false;
  int last_ = 0;
  int line_ = 1;
  int token_line_ = 0;
  std::array<char, kTokenKeep> kept_{};
  std::size_t kept_length_ = 0;
  std::size_t length_ = 0;
};

struct DataRecord {
  std::uint32_t address = 0;
  std::size_t size = 0;  // number of data bytes; 0 when the byte count leaves none
  std::array<std::uint8_t, 255> data{};
};

enum class RecordKind {
  kIgnored,  // not an S1, S2 or S3 record: S0, S5, S7-S9, lower-case "s", anything else
  kData,     // a data record, decoded into the DataRecord
  kBad,      // begins "S1", "S2" or "S3" but a field is not hexadecimal or the data run short
};

// Decodes `token` (whose full length is `length`, possibly more than token.size()). The record's
// checksum is not read.
RecordKind parse_record(std::string_view token, std::size_t length, DataRecord& record);

}  // namespace vexlo
