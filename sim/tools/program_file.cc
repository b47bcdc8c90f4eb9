#include "program_file.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

namespace h8sim {
namespace {

int hex_digit(char ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
  if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
  return -1;
}

// The bytes of a record after "Sn", or false when they are not pairs of hex digits.
bool record_bytes(std::string_view hex, std::vector<std::uint8_t>* bytes) {
  if (hex.size() % 2 != 0) return false;
  bytes->clear();
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    int high = hex_digit(hex[i]), low = hex_digit(hex[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes->push_back(static_cast<std::uint8_t>(high << 4 | low));
  }
  return true;
}

bool load_record(std::string_view line, std::span<std::uint8_t> flash, std::string* why) {
  if (line.size() < 2 || line[0] != 'S') {
    *why = "not an S-record";
    return false;
  }
  char type = line[1];
  int address_bytes = type == '1' ? 2 : type == '2' ? 3 : type == '3' ? 4 : 0;
  if (address_bytes == 0) return true;  // header, count and start records carry no data
  std::vector<std::uint8_t> bytes;
  if (!record_bytes(line.substr(2), &bytes) || bytes.empty() || bytes[0] + 1u != bytes.size() ||
      bytes.size() < 1u + address_bytes + 1u) {
    *why = "malformed record";
    return false;
  }
  unsigned sum = 0;
  for (std::size_t i = 0; i + 1 < bytes.size(); ++i) sum += bytes[i];
  if (static_cast<std::uint8_t>(~sum) != bytes.back()) {
    *why = "checksum mismatch";
    return false;
  }
  std::uint64_t address = 0;
  for (int i = 0; i < address_bytes; ++i) address = address << 8 | bytes[1 + i];
  std::size_t data_start = 1 + address_bytes, data_end = bytes.size() - 1;
  if (address + (data_end - data_start) > flash.size()) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "data at 0x%llx outside the flash",
                  static_cast<unsigned long long>(address));
    *why = buf;
    return false;
  }
  for (std::size_t i = data_start; i < data_end; ++i) flash[address++] = bytes[i];
  return true;
}

}  // namespace

bool load_program(std::string_view contents, std::span<std::uint8_t> flash, std::string* error) {
  if (contents.empty() || contents[0] != 'S') {
    if (contents.size() > flash.size()) {
      *error = "binary of " + std::to_string(contents.size()) + " bytes is larger than the " +
               std::to_string(flash.size()) + "-byte flash";
      return false;
    }
    for (std::size_t i = 0; i < contents.size(); ++i)
      flash[i] = static_cast<std::uint8_t>(contents[i]);
    return true;
  }
  std::size_t line_number = 0, pos = 0;
  while (pos < contents.size()) {
    std::size_t end = contents.find('\n', pos);
    if (end == std::string_view::npos) end = contents.size();
    std::string_view line = contents.substr(pos, end - pos);
    pos = end + 1;
    ++line_number;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
    if (line.empty()) continue;
    std::string why;
    if (!load_record(line, flash, &why)) {
      *error = "line " + std::to_string(line_number) + ": " + why;
      return false;
    }
  }
  return true;
}

bool read_file(const std::string& path, std::string* contents, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot open " + path;
    return false;
  }
  std::ostringstream buffer;
  buffer << in.rdbuf();
  *contents = buffer.str();
  return true;
}

}  // namespace h8sim
