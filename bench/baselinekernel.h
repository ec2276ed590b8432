#pragma once
// The keystream kernel the engine used before the present one (x86-64 only: plain byte table, no
// bound on how far the table loads run ahead), kept so that every benchmark run measures the
// present kernel against it on the same machine.

#include <cstddef>
#include <cstdint>

namespace veltrane {

// Transforms `chunks` whole 256-byte chunks of `bytes` (each starting at step index 0) with the
// 256-byte `table`, starting from `j`; returns the j that follows. Elsewhere than on x86-64 it
// reports false from BaselineKernelAvailable() and does nothing.
bool BaselineKernelAvailable();
unsigned BaselineXorChunks(std::uint8_t* table, unsigned j, std::uint8_t* bytes, std::size_t chunks);

} // namespace veltrane
