#include "faults.h"

#include <charconv>

namespace h8sim {

namespace {

// Parses a decimal or 0x-prefixed hexadecimal number that fits in `max`.
bool parse_number(std::string_view text, std::uint64_t max, std::uint64_t* value) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value, base);
  return ec == std::errc() && end == text.data() + text.size() && *value <= max;
}

// A byte value is always hexadecimal, with or without 0x ("first-byte=FF").
bool parse_byte(std::string_view text, std::uint8_t* value) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    text.remove_prefix(2);
  unsigned v = 0;
  if (text.empty() || text.size() > 2) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, 16);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  *value = static_cast<std::uint8_t>(v);
  return true;
}

}  // namespace

bool parse_fault(std::string_view spec, Faults& faults, std::string* error) {
  const auto eq = spec.find('=');
  const std::string_view name = spec.substr(0, eq);
  const std::string_view arg =
      eq == std::string_view::npos ? std::string_view{} : spec.substr(eq + 1);
  const bool has_arg = eq != std::string_view::npos;
  auto fail = [&](const char* why) {
    *error = "bad fault '" + std::string(spec) + "': " + why;
    return false;
  };
  auto flag = [&](bool& field) {
    if (has_arg) return fail("takes no value");
    field = true;
    return true;
  };
  auto byte = [&](std::optional<std::uint8_t>& field) {
    std::uint8_t v = 0;
    if (!parse_byte(arg, &v)) return fail("needs a hexadecimal byte, e.g. FF");
    field = v;
    return true;
  };
  auto count = [&](std::uint64_t min, std::uint64_t max, std::uint64_t* v) {
    if (!parse_number(arg, max, v) || *v < min) return fail("needs a number in range");
    return true;
  };
  std::uint64_t v = 0;
  if (name == "no-answer") return flag(faults.no_answer);
  if (name == "echo-size-high") return flag(faults.echo_size_high);
  if (name == "echo-size-low") return flag(faults.echo_size_low);
  if (name == "no-ack") return flag(faults.no_ack);
  if (name == "first-byte") return byte(faults.first_byte);
  if (name == "after-55") return byte(faults.after_55);
  if (name == "echo-data") {
    if (!count(1, 0xFFFF, &v)) return false;
    faults.echo_data = static_cast<std::uint32_t>(v);
    return true;
  }
  if (name == "stuck-zero") {
    if (!count(0, 0xFFFFFF, &v)) return false;
    faults.stuck_zero.push_back(static_cast<Addr>(v));
    return true;
  }
  if (name == "slow-cells") {
    if (!count(1, 100000, &v)) return false;
    faults.slow_cells = static_cast<unsigned>(v);
    return true;
  }
  if (name == "drop-byte") {
    if (!count(1, UINT64_MAX, &v)) return false;
    faults.drop_byte = v;
    return true;
  }
  if (name == "hangup-after") {
    if (!count(0, UINT64_MAX, &v)) return false;
    faults.hangup_after = v;
    return true;
  }
  return fail("unknown fault");
}

std::string_view fault_usage() {
  return "  no-answer        the boot program never answers the 0x00 bytes\n"
         "  first-byte=XX    it answers the 0x00 bytes with byte XX (hex) instead of 0x00\n"
         "  after-55=XX      it answers 0x55 with byte XX (hex) instead of 0xAA\n"
         "  echo-size-high   it echoes the size's high byte wrong (inverted)\n"
         "  echo-size-low    it echoes the size's low byte wrong (inverted)\n"
         "  echo-data=N      it echoes program byte N (1-based) wrong (inverted)\n"
         "  no-ack           after the program it answers 0xFF (erasing failed), not 0xAA, and\n"
         "                   doesn't start it\n"
         "  stuck-zero=ADDR  flash byte ADDR (offset, 0x.. for hex) reads 0x00, erase or not\n"
         "  slow-cells=K     flash cells need K first-length programming pulses (default 1)\n"
         "  drop-byte=N      byte N from the host is lost on the line; bytes count from the\n"
         "                   host's first byte other than 0x00 (1 = its 0x55), since how many\n"
         "                   zeros it sends first depends on its timing\n"
         "  hangup-after=N   the line closes after N bytes from the host, counted as above\n"
         "                   (0: at its first byte)\n";
}

}  // namespace h8sim
