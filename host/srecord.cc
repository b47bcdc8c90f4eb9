#include "srecord.h"

#include <optional>

namespace vexlo {

namespace {

constexpr int kCtrlZ = 0x1A;

bool is_white_space(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::optional<std::uint32_t> hex_field(std::string_view token, std::size_t first,
                                       std::size_t digits) {
  if (first + digits > token.size()) return std::nullopt;
  std::uint32_t value = 0;
  for (char c : token.substr(first, digits)) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else {
      return std::nullopt;
    }
    value = value << 4 | static_cast<std::uint32_t>(digit);
  }
  return value;
}

}  // namespace

int TokenReader::get() {
  if (ended_) return kEndOfInput;
  if (position_ == buffered_) {
    buffered_ = std::fread(buffer_.data(), 1, buffer_.size(), file_);
    position_ = 0;
    if (buffered_ == 0) {
      ended_ = true;
      return std::ferror(file_) ? kInputError : kEndOfInput;
    }
  }
  const int c = static_cast<unsigned char>(buffer_[position_++]);
  if (c == kCtrlZ) {
    ended_ = true;
    return kEndOfInput;
  }
  return c;
}

// Follows the line number through every character read: a line ends at a line feed, at a
// carriage return, or at the pair of both.
void TokenReader::count_line_end(int c) {
  if ((c == '\n' && last_ != '\r') || c == '\r') ++line_;
  last_ = c;
}

TokenReader::Status TokenReader::next() {
  int c;
  do {
    c = get();
    if (c == kInputError) return Status::kReadError;
    if (c == kEndOfInput) return Status::kEnd;
    count_line_end(c);
  } while (is_white_space(c));
  token_line_ = line_;
  kept_length_ = 0;
  length_ = 0;
  while (c >= 0 && !is_white_space(c)) {
    if (kept_length_ < kept_.size()) kept_[kept_length_++] = static_cast<char>(c);
    ++length_;
    count_line_end(c);
    c = get();
  }
  if (c == kInputError) return Status::kReadError;
  if (c >= 0) count_line_end(c);
  return Status::kToken;
}

RecordKind parse_record(std::string_view token, std::size_t length, DataRecord& record) {
  if (token.size() < 2 || token[0] != 'S' || token[1] < '1' || token[1] > '3') {
    return RecordKind::kIgnored;
  }
  const std::size_t address_digits = 2 * static_cast<std::size_t>(token[1] - '0' + 1);
  const std::size_t data_start = 4 + address_digits;
  const auto byte_count = hex_field(token, 2, 2);
  const auto address = hex_field(token, 4, address_digits);
  if (!byte_count || !address) return RecordKind::kBad;
  // The byte count covers the address, the data and the checksum.
  const int data_bytes = static_cast<int>(*byte_count) - static_cast<int>(address_digits / 2) - 1;
  record.address = *address;
  record.size = data_bytes > 0 ? static_cast<std::size_t>(data_bytes) : 0;
  if (data_start + 2 * record.size > length) return RecordKind::kBad;
  for (std::size_t i = 0; i < record.size; ++i) {
    const auto byte = hex_field(token, data_start + 2 * i, 2);
    if (!byte) return RecordKind::kBad;
    record.data[i] = static_cast<std::uint8_t>(*byte);
  }
  return RecordKind::kData;
}

}  // namespace vexlo
