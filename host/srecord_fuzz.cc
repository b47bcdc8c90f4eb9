// libFuzzer target: the S-record token reader and record decoder on arbitrary bytes. Every
// token must come back with a sane length and line, and every record decoded as data must fit
// the token it came from.
#include <cstdio>
#include <cstdlib>

#include "srecord.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::FILE* file = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
  if (file == nullptr) return 0;
  vexlo::TokenReader tokens(file);
  vexlo::DataRecord record;
  int previous_line = 1;
  while (tokens.next() == vexlo::TokenReader::Status::kToken) {
    if (tokens.length() == 0 || tokens.length() > size || tokens.token().size() > tokens.length() ||
        tokens.line() < previous_line) {
      std::abort();
    }
    previous_line = tokens.line();
    if (vexlo::parse_record(tokens.token(), tokens.length(), record) == vexlo::RecordKind::kData &&
        record.size > record.data.size()) {
      std::abort();
    }
  }
  std::fclose(file);
  return 0;
}
