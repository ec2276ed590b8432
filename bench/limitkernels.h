#pragma once
// Two kernels that are not the keystream but bound it from below, measured beside it (x86-64):
// each issues the loads and stores of the present kernel per byte, the same 8-byte XOR into the
// data included, with part of what makes the real one slow taken away.
//   - NoHazardXorChunks: the swaps' stores go to a second table, so no load of S[i] ever meets an
//     earlier store; the chain through j stays.
//   - PortsOnlyXorChunks: the same, and j no longer depends on the previous step, so only the
//     core's load and store ports and its issue width limit it.

#include <cstddef>
#include <cstdint>

namespace veltrane {

bool LimitKernelsAvailable();
unsigned NoHazardXorChunks(const std::uint8_t* table, std::uint8_t* sink, unsigned j, std::uint8_t* bytes,
                           std::size_t chunks);
unsigned PortsOnlyXorChunks(const std::uint8_t* table, std::uint8_t* sink, unsigned j, std::uint8_t* bytes,
                            std::size_t chunks);

} // namespace veltrane
