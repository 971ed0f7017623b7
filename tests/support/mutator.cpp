#include "tests/support/mutator.h"

namespace velmora::testing {

std::string Mutator::RandomBytes(size_t max_len) {
  std::string s(Below(static_cast<uint32_t>(max_len) + 1), '\0');
  for (char& c : s) c = static_cast<char>(rng_());
  return s;
}

std::string Mutator::Mutate(std::string s) {
  static const uint32_t kExtremes[] = {0, 1, 16, 20, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
  const int edits = 1 + static_cast<int>(Below(4));
  for (int e = 0; e < edits; ++e) {
    const uint32_t pos = Below(static_cast<uint32_t>(s.size()) + 1);
    switch (Below(7)) {
      case 0:
        if (!s.empty()) s[pos % s.size()] ^= static_cast<char>(1u << Below(8));
        break;
      case 1:
        s.insert(pos, 1, static_cast<char>(rng_()));
        break;
      case 2:
        if (!tokens_.empty()) s.insert(pos, tokens_[Below(static_cast<uint32_t>(tokens_.size()))]);
        break;
      case 3:
        s.erase(pos, 1 + Below(16));
        break;
      case 4:
        if (pos < s.size()) s.insert(pos, s.substr(pos, 1 + Below(64)));
        break;
      case 5:
        s.resize(pos);
        break;
      case 6:
        if (s.size() >= 4) {
          const uint32_t at = Below(static_cast<uint32_t>(s.size()) - 3);
          const uint32_t v = kExtremes[Below(std::size(kExtremes))];
          for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
        }
        break;
    }
  }
  return s;
}

std::string Mutator::Next(const std::vector<std::string>& seeds) {
  if (seeds.empty() || Below(5) == 0) return RandomBytes(200);
  return Mutate(seeds[Below(static_cast<uint32_t>(seeds.size()))]);
}

}  // namespace velmora::testing
