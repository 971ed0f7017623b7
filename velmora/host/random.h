// The process-wide pseudo-random generator.
//
// RandSeed is the generator's whole state: setting it repeats a sequence,
// Randomize sets it from the clock.  The generator is a 32-bit linear
// congruential one (state * 134775813 + 1 modulo 2^32); Random(n) takes the
// upper bits of the product of the new state and n, so every value 0 .. n-1
// is reachable.  Calls from several threads are safe: each draw is one
// atomic step of the state.
#pragma once

#include <atomic>
#include <cstdint>

namespace velmora::host {

extern std::atomic<uint32_t> RandSeed;

// A whole number 0 .. range - 1; 0 when range <= 0.
int32_t Random(int32_t range);
// A number in [0, 1).
double Random();
// Reseeds the generator from the clock.
void Randomize();

}  // namespace velmora::host
