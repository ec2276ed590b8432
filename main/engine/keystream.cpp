#include "main/engine/keystream.h"

#include <utility>

namespace veltrane {

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
    // Same steps as NextKeyByte, on local copies so that the compiler can keep j in a register and
    // need not assume the block aliases the table.
    std::array<std::uint8_t, 256> s = StateTable;
    unsigned j = J;
    std::uint8_t* const bytes = block.data();
    const std::size_t count = block.size();
    for (std::size_t c = 0; c < count; ++c) {
        const unsigned i = c & 0xFF;
        const std::uint8_t si = s[i];
        j = (j + si) & 0xFF;
        const std::uint8_t sj = s[j];
        s[i] = sj;
        s[j] = si;
        bytes[c] ^= s[(si + sj) & 0xFF];
    }
    StateTable = s;
    J = static_cast<std::uint8_t>(j);
}

} // namespace veltrane
