// Loading a program file into the simulated flash: Motorola S-records, or a raw binary that
// goes to address 0.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace h8sim {

// Places the program in `flash` (flash address a at flash[a]); bytes the file doesn't give
// stay as they are. Text whose first character is 'S' is read as S-records: S1, S2 and S3
// data are placed, other record types ignored. Anything else is a raw binary image.
// Fails with *error naming the line (S-records) or the size (binary) when a record is
// malformed, its checksum is wrong, or data falls outside the flash.
bool load_program(std::string_view contents, std::span<std::uint8_t> flash, std::string* error);

// Reads the whole file; fails with *error naming it.
bool read_file(const std::string& path, std::string* contents, std::string* error);

}  // namespace h8sim
