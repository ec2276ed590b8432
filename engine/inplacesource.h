#pragma once
// The stream of a pass made by the unit's generator on the pass's own thread.

#include "engine/keystream.h"
#include "engine/keystreamsource.h"

namespace veltrane {

class InPlaceSource : public KeystreamSource {
public:
    // From where `generator` stands: its next block is the pass's next.
    explicit InPlaceSource(KeystreamGenerator& generator) : m_generator(generator) {}
    KeystreamSourceKind Kind() const override { return KeystreamSourceKind::InPlace; }
    bool XorNext(std::span<std::uint8_t> block, std::int64_t /*position*/) override {
        m_generator.XorBlock(block);
        return true;
    }

private:
    KeystreamGenerator& m_generator;
};

} // namespace veltrane
