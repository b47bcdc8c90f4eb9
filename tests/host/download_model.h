// What the tests know of the three deliverables, independently of the host's own profiles (a wrong
// value shared by both sides would agree with itself), and the expected results built from it:
// S-record files, the ROM image they give, the bytes on the line and the console texts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fake_chip.h"
#include "writer_images.h"

namespace vexlo::hosttest {

using Bytes = std::vector<std::uint8_t>;

struct Deliverable {
  const char* program;      // deliverable name: usage text, ROM image file name stem
  const char* chip;         // as printed in the connection texts
  const char* banner_date;  // in the ready banner
  std::uint32_t image_size;
  std::uint32_t block_size;
  int block_number_bytes;  // 2: high byte first; 1: low byte only
  const WriterImage* writer;
};

extern const Deliverable kVexloa;  // H8/3067F
extern const Deliverable kVexlob;  // H8/3664F
extern const Deliverable kVexloc;  // H8/3068F

std::string ImageName(const Deliverable& d);  // "vexloa.bin"
int BlockCount(const Deliverable& d);
ChipScript ScriptFor(const Deliverable& d);  // a well-behaved chip with the deliverable's flash

// A data record: type 1, 2 or 3 (16-, 24-, 32-bit address).
struct SRecord {
  int type;
  std::uint32_t address;
  Bytes data;
};
std::string FormatSRecord(const SRecord& r);  // with a correct checksum, no line end
// An S0 header, the records one per line, an S9 end record; every line ends in "\n".
std::string SRecordFile(const std::vector<SRecord>& records);
// Records of one block each that fill the whole image with data in which no block is blank.
std::vector<SRecord> FullImageRecords(const Deliverable& d);

// The ROM image the records give: placed in order, later bytes win, only records that start
// inside the image, their bytes past its end dropped.
Bytes PlaceRecords(const Deliverable& d, const std::vector<SRecord>& records);
std::vector<int> NonBlankBlocks(const Deliverable& d, const Bytes& image);

// Bytes the host sends after its bursts of zeros: 0x55, the size 0x04 0x00, the writing program.
Bytes TransferBytes(const Deliverable& d);
// Block number and data of each of `blocks`, in order.
Bytes BlockBytes(const Deliverable& d, const Bytes& image, const std::vector<int>& blocks);

std::string UsageText(const Deliverable& d);
std::string ConnectingLine(const Deliverable& d);
std::string AbortLine(const Deliverable& d);
std::string ReadyBanner(const Deliverable& d);
std::string ProgressLines(const Deliverable& d, const std::vector<int>& blocks);

// Splits a received stream into its leading zeros (the connection bursts) and the rest.
struct Line {
  std::size_t zeros;
  Bytes rest;
};
Line SplitLine(const Bytes& received);

// "" when equal, else where and how the two byte strings first differ.
std::string FirstDifference(const Bytes& actual, const Bytes& expected);

}  // namespace vexlo::hosttest
