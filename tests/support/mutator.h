// Random edits of test inputs for the mutation runs of the parsers and
// decoders.  Each suite names the tokens its readers treat specially; the
// edits are the same everywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace velmora::testing {

class Mutator {
 public:
  Mutator(uint32_t seed, std::vector<std::string> tokens)
      : rng_(seed), tokens_(std::move(tokens)) {}

  // A number in [0, n); 0 when n is 0.
  uint32_t Below(uint32_t n) { return n == 0 ? 0 : rng_() % n; }

  // Up to `max_len` random bytes.
  std::string RandomBytes(size_t max_len);

  // `s` with one to four edits: a bit flipped, a random byte or a token
  // inserted, a span deleted or duplicated, the end cut off, or a 32-bit
  // little-endian field overwritten with an extreme value.
  std::string Mutate(std::string s);

  // One of `seeds` mutated or, one time in five, up to 200 random bytes.
  std::string Next(const std::vector<std::string>& seeds);

 private:
  std::mt19937 rng_;
  std::vector<std::string> tokens_;
};

}  // namespace velmora::testing
