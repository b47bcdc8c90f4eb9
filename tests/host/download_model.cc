#include "download_model.h"

#include <algorithm>
#include <cstdio>

namespace vexlo::hosttest {
namespace {

constexpr std::uint8_t kErased = 0xFF;
constexpr std::uint16_t kWriterSize = 1024;  // goes out as 0x04, 0x00

std::string format(const char* pattern, unsigned long a, unsigned long b = 0) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, a, b);
  return text;
}

int address_bytes(int type) { return type + 1; }

}  // namespace

const Deliverable kVexloa{"vexloa", "H8/3067F", "01/12/06", 0x20000, 32, 2, &kWriterImage3067f};
const Deliverable kVexlob{"vexlob", "H8/3664F", "02/07/12", 0x8000, 128, 1, &kWriterImage3664f};
const Deliverable kVexloc{"vexloc", "H8/3068F", "01/12/06", 0x60000, 32, 2, &kWriterImage3068f};

std::string ImageName(const Deliverable& d) { return std::string(d.program) + ".bin"; }

int BlockCount(const Deliverable& d) { return static_cast<int>(d.image_size / d.block_size); }

ChipScript ScriptFor(const Deliverable& d) {
  ChipScript script;
  script.image_size = d.image_size;
  script.block_size = d.block_size;
  script.block_number_bytes = d.block_number_bytes;
  return script;
}

std::string FormatSRecord(const SRecord& r) {
  const int addr_bytes = address_bytes(r.type);
  const unsigned count = static_cast<unsigned>(addr_bytes + r.data.size() + 1);
  std::string text = format("S%lu%02lX", static_cast<unsigned long>(r.type), count);
  unsigned sum = count;
  for (int i = addr_bytes - 1; i >= 0; --i) {
    const unsigned byte = (r.address >> (8 * i)) & 0xFF;
    text += format("%02lX", byte);
    sum += byte;
  }
  for (std::uint8_t byte : r.data) {
    text += format("%02lX", byte);
    sum += byte;
  }
  return text + format("%02lX", ~sum & 0xFF);
}

std::string SRecordFile(const std::vector<SRecord>& records) {
  std::string file = "S00600004844521B\n";
  for (const SRecord& r : records) file += FormatSRecord(r) + "\n";
  return file + "S9030000FC\n";
}

std::vector<SRecord> FullImageRecords(const Deliverable& d) {
  std::vector<SRecord> records;
  std::uint32_t state = 12345;
  for (std::uint32_t address = 0; address < d.image_size; address += 32) {
    SRecord r{3, address, Bytes(32)};
    for (std::uint8_t& byte : r.data) {
      state = state * 1103515245u + 12345u;
      byte = static_cast<std::uint8_t>(state >> 16);
    }
    r.data[0] &= 0x7F;  // never a blank block
    records.push_back(std::move(r));
  }
  return records;
}

Bytes PlaceRecords(const Deliverable& d, const std::vector<SRecord>& records) {
  Bytes image(d.image_size, kErased);
  for (const SRecord& r : records) {
    if (r.address >= d.image_size) continue;
    for (std::size_t i = 0; i < r.data.size() && r.address + i < d.image_size; ++i) {
      image[r.address + i] = r.data[i];
    }
  }
  return image;
}

std::vector<int> NonBlankBlocks(const Deliverable& d, const Bytes& image) {
  std::vector<int> blocks;
  for (int k = 0; k < BlockCount(d); ++k) {
    const auto first = image.begin() + static_cast<std::ptrdiff_t>(k) * d.block_size;
    if (!std::all_of(first, first + d.block_size, [](std::uint8_t b) { return b == kErased; })) {
      blocks.push_back(k);
    }
  }
  return blocks;
}

Bytes TransferBytes(const Deliverable& d) {
  Bytes bytes(3 + d.writer->size());
  bytes[0] = kSyncByte;
  bytes[1] = kWriterSize >> 8;
  bytes[2] = kWriterSize & 0xFF;
  std::copy(d.writer->begin(), d.writer->end(), bytes.begin() + 3);
  return bytes;
}

Bytes BlockBytes(const Deliverable& d, const Bytes& image, const std::vector<int>& blocks) {
  Bytes bytes;
  for (int k : blocks) {
    if (d.block_number_bytes == 2) bytes.push_back(static_cast<std::uint8_t>(k >> 8));
    bytes.push_back(static_cast<std::uint8_t>(k & 0xFF));
    const auto first = image.begin() + static_cast<std::ptrdiff_t>(k) * d.block_size;
    bytes.insert(bytes.end(), first, first + d.block_size);
  }
  return bytes;
}

std::string UsageText(const Deliverable& d) {
  return std::string(d.program) + " Motrola-SFile [ serial-port ]\n";
}

std::string ConnectingLine(const Deliverable& d) {
  return std::string("Connecting ") + d.chip + " ....\r";
}

std::string AbortLine(const Deliverable& d) {
  return std::string(d.chip) + " is not ready. Aborted!\n";
}

std::string ReadyBanner(const Deliverable& d) {
  return std::string(d.chip) + " is ready! " + d.banner_date + " by (qym).\n";
}

std::string ProgressLines(const Deliverable& d, const std::vector<int>& blocks) {
  std::string text;
  for (int k : blocks) {
    const unsigned long first = static_cast<unsigned long>(k) * d.block_size;
    text += format("\r%08lX -- %08lX", first, first + d.block_size - 1);
  }
  return text;
}

Line SplitLine(const Bytes& received) {
  const auto first_other =
      std::find_if(received.begin(), received.end(), [](std::uint8_t b) { return b != 0; });
  return {static_cast<std::size_t>(first_other - received.begin()),
          Bytes(first_other, received.end())};
}

std::string FirstDifference(const Bytes& actual, const Bytes& expected) {
  const auto [a, e] = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
  if (a == actual.end() && e == expected.end()) return "";
  const std::size_t at = static_cast<std::size_t>(a - actual.begin());
  std::string text = "lengths " + std::to_string(actual.size()) + " (actual) and " +
                     std::to_string(expected.size()) + " (expected); first difference at byte " +
                     std::to_string(at);
  if (a != actual.end()) text += format(", actual 0x%02lX", *a);
  if (e != expected.end()) text += format(", expected 0x%02lX", *e);
  return text;
}

}  // namespace vexlo::hosttest
