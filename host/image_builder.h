// The image stage: turns the S-record file into the ROM image file, a raw file of image_size
// bytes in the working directory in which the byte at offset a is the byte for flash address a
// and every byte no record gives is 0xFF (erased flash).
#pragma once

#include <string>

namespace vexlo {

// The S-record file's name, as typed.
extern std::string sfile_name;

// Prints "Making Image.\r", builds the ROM image file from sfile_name and closes both files.
// Returns only when the image is complete; on a failure it prints its text, deletes the image
// file (if it was created) and ends the run.
void build_image();

}  // namespace vexlo
