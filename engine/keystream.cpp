#include "engine/keystream.h"

#include "engine/kernels/chunkkernel.h"
#include "engine/keystreamkernels.h"

#include <cstring>
#include <string.h>
#include <utility>

namespace veltrane {

namespace {

// The generator's steps over `count` bytes starting at step index 0, whole chunks by the kernel in
// use and the last partial chunk step by step as NextKeyByte does it.
template <ChunkOutput Mode>
void RunBlock(std::array<std::uint8_t, 256>& stateTable, std::uint8_t& stateJ, std::uint8_t* bytes, std::size_t count) {
    // A private, cache-line aligned copy of the table: it cannot alias the block, and its four
    // lines never straddle a fifth.
    alignas(64) std::uint8_t s[256];
    std::memcpy(s, stateTable.data(), sizeof s);
    const std::size_t whole = count / ChunkSize;
    unsigned j = stateJ;
    if (whole > 0) {
        const ChunkKernel kernel = ActiveChunkKernel();
        j = (Mode == ChunkOutput::Xor ? kernel.Xor : kernel.Store)(s, j, bytes, whole);
    }
    for (std::size_t c = whole * ChunkSize; c < count; ++c) {
        const unsigned i = c & 0xFF;
        const std::uint8_t si = s[i];
        j = (j + si) & 0xFF;
        const std::uint8_t sj = s[j];
        s[i] = sj;
        s[j] = si;
        const std::uint8_t k = s[(si + sj) & 0xFF];
        bytes[c] = Mode == ChunkOutput::Xor ? static_cast<std::uint8_t>(bytes[c] ^ k) : k;
    }
    std::memcpy(stateTable.data(), s, sizeof s);
    // The copy is as good as the key for the rest of the stream.
    ::explicit_bzero(s, sizeof s);
    stateJ = static_cast<std::uint8_t>(j);
}

} // namespace

std::string KeystreamKernelInUse() {
    const KeystreamKernelChoice& choice = FirstUseKeystreamKernel();
    return std::string(KeystreamKernelName(ActiveKeystreamKernel())) + " (" + choice.Reason + ")";
}

void KeystreamGenerator::Wipe() noexcept {
    ::explicit_bzero(StateTable.data(), StateTable.size());
    ::explicit_bzero(KeyTable.data(), KeyTable.size());
    J = 0;
}

void KeystreamGenerator::ScheduleKey(std::span<const std::uint8_t> keyText) {
    // The key is padded with 255, never repeated, and only its first 256 bytes count.
    for (unsigned n = 0; n < 256; ++n) {
        StateTable[n] = static_cast<std::uint8_t>(n);
        KeyTable[n] = n < keyText.size() ? keyText[n] : 0xFF;
    }

    // Ten mixing passes, each restarting j but stirring the permutation the previous one left.
    for (int pass = 0; pass < 10; ++pass) {
        unsigned j = 0;
        for (unsigned i = 0; i < 256; ++i) {
            j = (j + StateTable[i] + KeyTable[i]) & 0xFF;
            std::swap(StateTable[i], StateTable[j]);
        }
    }

    // Fifty warm-up steps with i = 0..49 that produce no output; j carries into the first output step,
    // while i starts again from the caller's counter.
    unsigned j = 0;
    for (unsigned i = 0; i < 50; ++i) {
        j = (j + StateTable[i]) & 0xFF;
        std::swap(StateTable[i], StateTable[j]);
    }
    J = static_cast<std::uint8_t>(j);
}

std::uint8_t KeystreamGenerator::NextKeyByte(std::uint8_t index) {
    const unsigned i = index;
    J = static_cast<std::uint8_t>(J + StateTable[i]);
    std::swap(StateTable[i], StateTable[J]);
    return StateTable[(StateTable[i] + StateTable[J]) & 0xFF];
}

void KeystreamGenerator::XorBlock(std::span<std::uint8_t> block) {
    RunBlock<ChunkOutput::Xor>(StateTable, J, block.data(), block.size());
}

void KeystreamGenerator::GenerateBlock(std::span<std::uint8_t> stream) {
    RunBlock<ChunkOutput::Store>(StateTable, J, stream.data(), stream.size());
}

} // namespace veltrane
