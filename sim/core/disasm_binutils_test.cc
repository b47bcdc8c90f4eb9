// The decoder against GNU binutils: every instruction form in testdata/all_forms.s, assembled
// by h8300-hms-as for advanced and for normal mode, must decode at the length and to the text
// that h8300-hms-objdump gives it, and together they must reach every row of the instruction
// table.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "disasm.h"
#include "isa.h"

namespace h8sim {
namespace {

namespace fs = std::filesystem;

struct Decoded {
  unsigned addr;
  std::vector<std::uint8_t> bytes;
  std::string text;
};

std::string slurp(const fs::path& path) {
  std::ifstream in(path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string hex(unsigned long v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%lx", v);
  return buf;
}

bool is_hex_digit(char ch) { return std::isxdigit(static_cast<unsigned char>(ch)) != 0; }

// The number (0x... or decimal) that starts at text[pos], and its length.
unsigned long number_at(const std::string& text, std::size_t pos, std::size_t* length) {
  std::size_t end = pos;
  bool is_hex = text.compare(pos, 2, "0x") == 0;
  if (is_hex) end += 2;
  while (end < text.size() && (is_hex ? is_hex_digit(text[end]) : std::isdigit(text[end]))) ++end;
  *length = end - pos;
  return std::stoul(text.substr(pos, end - pos), nullptr, is_hex ? 16 : 10);
}

// Both sides in one spelling: lower case, single spaces, immediates in hex, and the 32-bit
// address field of the 24-bit forms (which objdump shows whole, as ":32") as its 24 bits.
std::string normalize(const std::string& raw) {
  std::string text;
  for (char ch : raw) {
    ch = static_cast<char>(ch == '\t' ? ' ' : std::tolower(static_cast<unsigned char>(ch)));
    if (ch == ' ' && (text.empty() || text.back() == ' ')) continue;
    text += ch;
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    bool immediate = text[i] == '#' && i + 1 < text.size() && std::isdigit(text[i + 1]);
    bool address = text.compare(i, 3, "@0x") == 0 || text.compare(i, 4, "@(0x") == 0;
    if (!immediate && !address) {
      out += text[i++];
      continue;
    }
    std::size_t start = text.find_first_of("0123456789", i);
    out += text.substr(i, start - i);
    std::size_t length = 0;
    unsigned long value = number_at(text, start, &length);
    i = start + length;
    if (address && text.compare(i, 3, ":32") == 0) {
      value &= 0xFFFFFF;
      out += hex(value) + ":24";
      i += 3;
    } else {
      out += hex(value);
    }
  }
  return out;
}

// Parses `objdump -d`: an instruction line is "addr:\tbytes\ttext", and the bytes of a long
// instruction continue on lines without text.
std::vector<Decoded> parse_objdump(const std::string& listing) {
  std::vector<Decoded> result;
  std::istringstream in(listing);
  std::string line;
  while (std::getline(in, line)) {
    std::size_t colon = line.find(":\t");
    if (colon == std::string::npos) continue;
    std::string addr = line.substr(0, colon);
    addr.erase(0, addr.find_first_not_of(' '));
    if (addr.empty() || addr.find_first_not_of("0123456789abcdef") != std::string::npos) continue;
    std::size_t bytes_end = line.find('\t', colon + 2);
    std::istringstream hexes(line.substr(colon + 2, bytes_end - (colon + 2)));
    std::vector<std::uint8_t> bytes;
    std::string b;
    while (hexes >> b) bytes.push_back(static_cast<std::uint8_t>(std::stoul(b, nullptr, 16)));
    if (bytes_end != std::string::npos) {
      result.push_back({static_cast<unsigned>(std::stoul(addr, nullptr, 16)), bytes,
                        line.substr(bytes_end + 1)});
    } else if (!result.empty()) {
      result.back().bytes.insert(result.back().bytes.end(), bytes.begin(), bytes.end());
    }
  }
  return result;
}

// Assembles and links the forms file for one mode and returns objdump's listing.
std::string assemble_and_dump(const std::string& directive, const std::string& emulation) {
  fs::path dir =
      fs::temp_directory_path() / ("h8sim_forms_" + std::to_string(::getpid()) + "_" + emulation);
  fs::create_directories(dir);
  {
    std::ofstream src(dir / "forms.s");
    src << "\t" << directive << "\n\t.text\n" << slurp(H8SIM_TESTDATA_DIR "/all_forms.s");
  }
  std::string d = dir.string();
  std::string cmd = std::string(H8300_AS) + " " + d + "/forms.s -o " + d + "/forms.o && " +
                    H8300_LD + " -m" + emulation + " -Ttext 0x100 -e 0x100 " + d + "/forms.o -o " +
                    d + "/forms.x && " + H8300_OBJDUMP + " -d " + d + "/forms.x > " + d +
                    "/forms.lst";
  int status = std::system(cmd.c_str());
  std::string listing = status == 0 ? slurp(dir / "forms.lst") : std::string();
  fs::remove_all(dir);
  return listing;
}

class DisasmBinutilsTest : public ::testing::TestWithParam<CpuMode> {};

TEST_P(DisasmBinutilsTest, EveryFormDecodesAsObjdumpShowsIt) {
  bool advanced = GetParam() == CpuMode::kAdvanced;
  std::string listing =
      assemble_and_dump(advanced ? ".h8300h" : ".h8300hn", advanced ? "h8300h" : "h8300hn");
  ASSERT_FALSE(listing.empty()) << "assembling testdata/all_forms.s failed";
  std::vector<Decoded> insns = parse_objdump(listing);
  ASSERT_FALSE(insns.empty()) << "no instructions in the objdump listing";

  std::set<const InsnSpec*> reached;
  for (const Decoded& d : insns) {
    Disassembly ours = disassemble(d.bytes, d.addr, GetParam());
    EXPECT_EQ(ours.length, static_cast<int>(d.bytes.size()))
        << "at " << hex(d.addr) << ": objdump '" << d.text << "', ours '" << ours.text << "'";
    EXPECT_EQ(normalize(ours.text), normalize(d.text)) << "at " << hex(d.addr);
    std::vector<std::uint16_t> words;
    for (std::size_t i = 0; i + 1 < d.bytes.size() && words.size() < kMaxMatchWords; i += 2) {
      words.push_back(static_cast<std::uint16_t>(d.bytes[i] << 8 | d.bytes[i + 1]));
    }
    int needed = 0;
    if (const InsnSpec* spec = find_spec(cpu_decoder(), words, &needed)) reached.insert(spec);
  }
  for (const InsnSpec& spec : instruction_table()) {
    if (reached.count(&spec) == 0) {
      ADD_FAILURE() << "no form in all_forms.s reaches table row " << spec.mnemonic << " "
                    << hex(spec.match[0]) << "/" << hex(spec.mask[0]);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(BothModes, DisasmBinutilsTest,
                         ::testing::Values(CpuMode::kAdvanced, CpuMode::kNormal),
                         [](const auto& param_info) {
                           return param_info.param == CpuMode::kAdvanced ? "Advanced" : "Normal";
                         });

}  // namespace
}  // namespace h8sim
