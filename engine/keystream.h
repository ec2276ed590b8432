#pragma once
// The keyed byte stream of the file format: an RC4-family generator with its own key schedule
// (255-padded key table, ten mixing passes, fifty warm-up steps) and a caller-supplied step index.

#include "engine/keystreamkernels.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace veltrane {

// The kernel this process runs the generator's steps with, and why it was chosen, in words (for
// veltrane-cli --version --verbose): "NAME (REASON)".
std::string KeystreamKernelInUse();
// How each pass picks where its keystream comes from, in words, the same way (see keystreamsource.h).
std::string KeystreamSourceRuleInUse();

class KeystreamGenerator {
public:
    KeystreamGenerator() = default;
    KeystreamGenerator(const KeystreamGenerator&) = default;
    KeystreamGenerator& operator=(const KeystreamGenerator&) = default;
    // Wipes both tables: either is as good as the key, and a copy that ends on a stack would
    // otherwise stay there, in a core dump too.
    ~KeystreamGenerator() { Wipe(); }
    void Wipe() noexcept;

    // Re-initialises StateTable, KeyTable and j from the key (at most its first 256 bytes count).
    void ScheduleKey(std::span<const std::uint8_t> keyText);

    // One output step with `index` as the step index i; changes StateTable and j.
    std::uint8_t NextKeyByte(std::uint8_t index);

    // XORs the stream over `block`, whose first byte takes step index 0: exactly
    // block[c] ^= NextKeyByte(c % 256) for c = 0, 1, ... in order, j carrying on afterwards. Whole
    // 256-byte chunks go through the kernel in use (keystreamkernels.h).
    void XorBlock(std::span<std::uint8_t> block);
    // Like XorBlock, but stores the stream bytes themselves: stream[c] = NextKeyByte(c % 256).
    void GenerateBlock(std::span<std::uint8_t> stream);

    const std::array<std::uint8_t, 256>& stateTable() const { return StateTable; }
    const std::array<std::uint8_t, 256>& keyTable() const { return KeyTable; }
    std::uint8_t j() const { return J; }

private:
    std::array<std::uint8_t, 256> StateTable{};
    std::array<std::uint8_t, 256> KeyTable{};
    std::uint8_t J = 0;
};

} // namespace veltrane
