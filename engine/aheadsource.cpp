#include "engine/aheadsource.h"

#include "engine/engineunit.h"

namespace veltrane {

AheadSource::AheadSource(EngineUnit& unit, std::int64_t blocks, std::int64_t length, RunKeystream* keepInto)
    : m_unit(unit), m_keepInto(keepInto) {
    const auto last = static_cast<std::size_t>(length - (blocks - 1) * static_cast<std::int64_t>(BlockSize));
    m_ahead = std::make_unique<StreamAhead>(unit.Generator, blocks, last, unit.StreamAheadHook);
}

AheadSource::~AheadSource() {
    m_unit.LastStreamSources.FromThread += m_ahead->blocksFromThread();
}

bool AheadSource::XorNext(std::span<std::uint8_t> block, std::int64_t position) {
    std::span<const std::uint8_t> kept;
    if (m_keepInto && block.size() == BlockSize)
        kept = m_keepInto->Keep(
            position, [this](std::span<std::uint8_t> room) -> const KeystreamGenerator& { return Make(room); });
    if (!kept.empty())
        XorBytes(block, kept);
    else
        Make(block);
    return true;
}

// XORs the stream of the next block into `block`, from the thread where it has it; the generator as
// it stands after the block.
const KeystreamGenerator& AheadSource::Make(std::span<std::uint8_t> block) {
    if (m_aheadLive && m_ahead->XorNext(block, m_unit.Generator))
        return m_ahead->nextGenerator();
    // Once the thread has fallen behind, the pass goes on alone from where it left off.
    m_unit.LastStreamSources.FellBack |= m_aheadLive;
    m_aheadLive = false;
    m_unit.Generator.XorBlock(block);
    return m_unit.Generator;
}

} // namespace veltrane
