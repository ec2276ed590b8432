#pragma once
// The kernels that run the generator's steps over whole 256-byte chunks. The pass hands them blocks
// that start at step index 0, so in every chunk the step index of byte c is simply c: each kernel is
// unrolled over the 256 positions of a chunk (or a loop over them) with j as the only running state.
// All of them give the same bytes; which is fastest depends on the core (see keystreamkernels.h).

#include <cstddef>
#include <cstdint>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(VELTRANE_PORTABLE_KEYSTREAM)
#define VELTRANE_KEYSTREAM_X86_64 1
#else
#define VELTRANE_KEYSTREAM_X86_64 0
#endif

#if defined(__GNUC__) || defined(__clang__)
#define VELTRANE_INLINE inline __attribute__((always_inline))
#else
#define VELTRANE_INLINE inline
#endif

namespace veltrane {

inline constexpr std::size_t ChunkSize = 256;

// What a kernel does with the stream: XOR it into the data, or store it.
enum class ChunkOutput { Xor, Store };

// Runs `chunks` whole chunks over `bytes`, starting from `j`, with `table`: 256 bytes, 64-byte
// aligned and apart from `bytes`. Returns the j after them; `table` holds the state after them.
using ChunkRunner = unsigned (*)(std::uint8_t* table, unsigned j, std::uint8_t* bytes, std::size_t chunks);

struct ChunkKernel {
    ChunkRunner Xor;
    ChunkRunner Store;
};

// The runners of the kernel in use (keystreamkernels.h), in keystreamkernels.cpp.
ChunkKernel ActiveChunkKernel();

// Plain C++, for every machine.
ChunkKernel PortableChunkKernel();

#if VELTRANE_KEYSTREAM_X86_64
// x86-64, in laggedkernel.cpp: byte table, every load of S[i] free to run ahead (the kernel the
// engine had first), and the same with those loads held back behind a recent j.
ChunkKernel UnlaggedChunkKernel();
ChunkKernel LaggedChunkKernel();
// x86-64, in preloadedkernel.cpp: S[i] read two steps early, the swaps in between checked.
ChunkKernel PreloadedChunkKernel();
// x86-64, in widekernel.cpp: 32-bit table entries, the next S[i] read one step ahead after the
// store into S[j]; unrolled over the chunk, and as a loop of eight steps.
ChunkKernel WideChunkKernel();
ChunkKernel CompactChunkKernel();
#endif

} // namespace veltrane
