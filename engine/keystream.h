#pragma once
// The keyed byte stream of the file format: an RC4-family generator with its own key schedule
// (255-padded key table, ten mixing passes, fifty warm-up steps) and a caller-supplied step index.

#include <array>
#include <cstdint>
#include <span>

namespace veltrane {

// The ways of running the steps over whole blocks, all giving the same bytes: plain C++ where the
// build has nothing else, and on x86-64 two kernels for cores that order their loads and stores
// differently (see keystream.cpp). The first use times both and keeps the faster.
enum class KeystreamKernel { Portable, LaggedLoads, Preloaded };

// The kernel that XorBlock and GenerateBlock use.
KeystreamKernel ActiveKeystreamKernel();
// Makes every generator use `kernel` from now on (to compare them); false, changing nothing, where
// the build lacks it.
bool UseKeystreamKernel(KeystreamKernel kernel);

class KeystreamGenerator {
public:
    // Re-initialises StateTable, KeyTable and j from the key (at most its first 256 bytes count).
    void ScheduleKey(std::span<const std::uint8_t> keyText);

    // One output step with `index` as the step index i; changes StateTable and j.
    std::uint8_t NextKeyByte(std::uint8_t index);

    // XORs the stream over `block`, whose first byte takes step index 0: exactly
    // block[c] ^= NextKeyByte(c % 256) for c = 0, 1, ... in order, j carrying on afterwards.
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
