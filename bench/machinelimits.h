#pragma once
// Measurements of the core itself rather than of any kernel (x86-64): what bounds every kernel of
// this generator from below, whatever its order of instructions.
//   - StepMixRounds: the fewest instructions a step can take (three table loads, two stores, three
//     register operations, and per eight steps one 8-byte load, XOR and store of the data), with
//     nothing depending on anything: the load and store ports and the issue width set its speed.
//   - LoadLatencyRounds: loads each waiting for the one before (a pointer chase in the L1 cache).
//   - ForwardingRounds: a store and a load of the same byte, each waiting for the one before: the
//     latency of store-to-load forwarding.
// Each runs `rounds` rounds and returns how many steps (StepMix: keystream bytes) or links of the
// chain it ran.

#include <cstdint>

namespace veltrane {

bool MachineLimitsAvailable();
std::uint64_t StepMixRounds(std::uint64_t rounds);
std::uint64_t LoadLatencyRounds(std::uint64_t rounds);
std::uint64_t ForwardingRounds(std::uint64_t rounds);

} // namespace veltrane
