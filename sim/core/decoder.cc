#include <array>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "exec.h"
#include "isa.h"

namespace h8sim {
namespace {

bool words_match(const InsnSpec& spec, std::span<const std::uint16_t> words, int count) {
  for (int i = 0; i < count; ++i) {
    if ((words[i] & spec.mask[i]) != spec.match[i]) return false;
  }
  return true;
}

// Two forms overlap when some instruction matches both: on every word both of them test, the
// bits that both masks test agree.
bool overlap(const InsnSpec& a, const InsnSpec& b) {
  int n = std::min(a.match_words, b.match_words);
  for (int i = 0; i < n; ++i) {
    if ((a.match[i] ^ b.match[i]) & a.mask[i] & b.mask[i]) return false;
  }
  return true;
}

std::string describe(const InsnSpec& spec) {
  std::string text = spec.mnemonic;
  char buf[32];
  for (int i = 0; i < spec.match_words; ++i) {
    std::snprintf(buf, sizeof buf, " %04x/%04x", spec.match[i], spec.mask[i]);
    text += buf;
  }
  return text;
}

}  // namespace

bool build_decoder(std::span<const InsnSpec> table, Handler group_handler, Handler illegal_handler,
                   Decoder* decoder, std::string* error) {
  for (std::size_t i = 0; i < table.size(); ++i) {
    for (std::size_t j = i + 1; j < table.size(); ++j) {
      if (overlap(table[i], table[j])) {
        *error = "overlapping encodings: " + describe(table[i]) + " and " + describe(table[j]);
        return false;
      }
    }
  }
  // The forms by the high byte of the first words they accept, in table order; the forms of a
  // first word are then found among the few of its high byte.
  std::array<std::vector<const InsnSpec*>, 256> by_high;
  for (const InsnSpec& spec : table) {
    for (unsigned high = 0; high < 256; ++high) {
      if (((high << 8) & spec.mask[0]) == (spec.match[0] & spec.mask[0] & 0xFF00)) {
        by_high[high].push_back(&spec);
      }
    }
  }
  if (table.size() >= kNoSpec) {
    *error = "instruction table too large: " + std::to_string(table.size()) + " forms";
    return false;
  }
  decoder->table = table;
  decoder->group_handler = group_handler;
  decoder->illegal_handler = illegal_handler;
  decoder->first.assign(0x10000, DecodeEntry{kNoSpec, kNoGroup});
  decoder->groups.clear();
  std::map<std::vector<const InsnSpec*>, std::uint16_t> group_index;
  std::vector<const InsnSpec*> candidates;
  for (unsigned w = 0; w < 0x10000; ++w) {
    candidates.clear();
    for (const InsnSpec* spec : by_high[w >> 8]) {
      if ((w & spec->mask[0]) == spec->match[0]) candidates.push_back(spec);
    }
    if (candidates.empty()) continue;
    const InsnSpec* only = candidates.front();
    if (candidates.size() == 1 && only->match_words == 1) {
      decoder->first[w] = DecodeEntry{static_cast<std::uint16_t>(only - table.data()), kNoGroup};
      continue;
    }
    auto [it, inserted] =
        group_index.emplace(candidates, static_cast<std::uint16_t>(decoder->groups.size()));
    if (inserted) {
      DecodeGroup& group = decoder->groups.emplace_back();
      for (unsigned high = 0; high < 256; ++high) {
        for (const InsnSpec* spec : candidates) {
          if (((high << 8) & spec->mask[1]) == (spec->match[1] & spec->mask[1] & 0xFF00)) {
            group.by_second_high[high].push_back(spec);
          }
        }
        const auto& bucket = group.by_second_high[high];
        group.single[high] =
            bucket.size() == 1 && bucket[0]->match_words == 2 ? bucket[0] : nullptr;
      }
    }
    decoder->first[w] = DecodeEntry{kNoSpec, it->second};
  }
  return true;
}

const Decoder& cpu_decoder() {
  static const Decoder decoder = [] {
    Decoder d;
    std::string error;
    if (!build_decoder(instruction_table(), &Exec::group, &Exec::illegal, &d, &error)) {
      std::fprintf(stderr, "h8sim: instruction table: %s\n", error.c_str());
      std::abort();
    }
    return d;
  }();
  return decoder;
}

const InsnSpec* match_group(std::span<const InsnSpec* const> candidates,
                            std::span<const std::uint16_t> words, int* needed) {
  for (int have = 2; have <= kMaxMatchWords; ++have) {
    *needed = have;
    if (static_cast<int>(words.size()) < have) return nullptr;
    const InsnSpec* found = nullptr;
    bool undecided = false;
    for (const InsnSpec* spec : candidates) {
      int n = std::min<int>(have, spec->match_words);
      if (!words_match(*spec, words, n)) continue;
      if (spec->match_words <= have) {
        found = spec;
      } else {
        undecided = true;
      }
    }
    if (found != nullptr || !undecided) return found;
  }
  return nullptr;
}

const InsnSpec* find_spec(const Decoder& decoder, std::span<const std::uint16_t> words,
                          int* needed) {
  *needed = 1;
  if (words.empty()) return nullptr;
  const DecodeEntry& entry = decoder.first[words[0]];
  if (const InsnSpec* spec = decoder.spec_of(words[0])) return spec;
  if (entry.group == kNoGroup) return nullptr;
  if (words.size() < 2) {
    *needed = 2;
    return nullptr;
  }
  return match_group(decoder.groups[entry.group].by_second_high[words[1] >> 8], words, needed);
}

}  // namespace h8sim
