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
  std::vector<std::vector<const InsnSpec*>> by_first(0x10000);
  for (const InsnSpec& spec : table) {
    std::uint16_t free_bits = static_cast<std::uint16_t>(~spec.mask[0]);
    std::uint16_t bits = 0;
    do {  // every first word the form accepts: its match with any choice of the free bits
      by_first[spec.match[0] | bits].push_back(&spec);
      bits = static_cast<std::uint16_t>((bits - free_bits) & free_bits);
    } while (bits != 0);
  }
  decoder->first.assign(0x10000, DecodeEntry{illegal_handler, 1, kNoGroup, nullptr});
  decoder->groups.clear();
  std::map<std::vector<const InsnSpec*>, std::uint16_t> group_index;
  for (std::size_t w = 0; w < by_first.size(); ++w) {
    const auto& candidates = by_first[w];
    if (candidates.empty()) continue;
    const InsnSpec* only = candidates.front();
    if (candidates.size() == 1 && only->match_words == 1) {
      decoder->first[w] =
          DecodeEntry{only->handler, static_cast<std::uint8_t>(only->length / 2), kNoGroup, only};
      continue;
    }
    auto [it, inserted] =
        group_index.emplace(candidates, static_cast<std::uint16_t>(decoder->groups.size()));
    if (inserted) decoder->groups.push_back(candidates);
    decoder->first[w] = DecodeEntry{group_handler, 1, it->second, nullptr};
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

const InsnSpec* find_spec(const Decoder& decoder, std::span<const std::uint16_t> words,
                          int* needed) {
  *needed = 1;
  if (words.empty()) return nullptr;
  const DecodeEntry& entry = decoder.first[words[0]];
  if (entry.spec != nullptr) return entry.spec;
  if (entry.group == kNoGroup) return nullptr;
  const auto& candidates = decoder.groups[entry.group];
  const InsnSpec* probe = nullptr;
  for (int have = 2; have <= kMaxMatchWords; ++have) {
    *needed = have;
    if (static_cast<int>(words.size()) < have) return nullptr;
    bool undecided = false;
    for (const InsnSpec* spec : candidates) {
      int n = std::min<int>(have, spec->match_words);
      if (!words_match(*spec, words, n)) continue;
      if (spec->match_words <= have) {
        probe = spec;
      } else {
        undecided = true;
      }
    }
    if (probe != nullptr || !undecided) return probe;
  }
  return nullptr;
}

}  // namespace h8sim
