#include "engine/passstream.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace veltrane {

PassStream::PassStream(EngineUnit& unit, std::int64_t from, std::int64_t end)
    : m_unit(unit), m_run(unit.KeystreamOfRun()), m_position(from), m_end(end) {
    // A copy of the run's schedule stands for a fresh ScheduleKey of the same key.
    m_unit.Generator = m_run.Scheduled();
    m_unit.LastStreamAhead = {};
}

PassStream::~PassStream() {
    if (m_ahead) {
        m_unit.LastStreamAhead.Blocks = m_ahead->blocksFromThread();
        m_ahead.reset();
    }
    if (!m_scratch.empty())
        ::explicit_bzero(m_scratch.data(), m_scratch.size());
}

void PassStream::XorNext(std::span<std::uint8_t> block) {
    if (block.empty())
        return;
    if (!m_generating && !StartInPrefix()) {
        if (const auto prefix = m_run.Prefix(m_position, block.size()); !prefix.empty()) {
            XorBytes(block, prefix);
            m_position += static_cast<std::int64_t>(block.size());
            return;
        }
        StartPastPrefix();
    }
    std::span<const std::uint8_t> kept;
    if (block.size() == BlockSize)
        kept = m_run.Keep(m_position, [this](std::span<std::uint8_t> room) -> const KeystreamGenerator& {
            return Make(room);
        });
    if (!kept.empty())
        XorBytes(block, kept);
    else
        Make(block);
    m_position += static_cast<std::int64_t>(block.size());
}

std::span<const std::uint8_t> PassStream::StreamNext(std::size_t length) {
    m_scratch.resize(std::max(m_scratch.size(), length));
    const std::span<std::uint8_t> bytes(m_scratch.data(), length);
    std::fill(bytes.begin(), bytes.end(), 0);
    XorNext(bytes);
    return bytes;
}

// Blocks from m_position to m_end.
std::int64_t PassStream::BlocksLeft() const {
    return (std::max<std::int64_t>(m_end - m_position, 0) + static_cast<std::int64_t>(BlockSize) - 1) /
           static_cast<std::int64_t>(BlockSize);
}

bool PassStream::ThreadWorthwhile() const {
    return m_unit.StreamAheadAllowed && BlocksLeft() >= StreamAhead::MinimumBlocks && StreamAhead::Worthwhile();
}

void PassStream::StartThread() {
    const std::int64_t blocks = BlocksLeft();
    const auto last =
        static_cast<std::size_t>(m_end - m_position - (blocks - 1) * static_cast<std::int64_t>(BlockSize));
    m_ahead = std::make_unique<StreamAhead>(m_unit.Generator, blocks, last, m_unit.StreamAheadHook);
    m_aheadLive = true;
    m_unit.LastStreamAhead.Started = true;
}

// Where the pass reaches the end of what the prefix has made so far with enough blocks left for
// a second thread, the thread makes the rest of the prefix as well (the pass keeps it): true,
// and unit.Generator set going here. Tried once a pass.
bool PassStream::StartInPrefix() {
    if (m_triedInPrefix || static_cast<std::uint64_t>(m_position) != m_run.madeLength() ||
        static_cast<std::uint64_t>(m_position) >= m_run.prefixLimit())
        return false;
    m_triedInPrefix = true;
    if (!ThreadWorthwhile() || !m_run.FrontierAt(m_position, m_unit.Generator))
        return false;
    m_generating = true;
    StartThread();
    return true;
}

// unit.Generator, set going at m_position the first time the pass gets past the prefix; then the
// second thread is started if the rest of the pass is worth one.
void PassStream::StartPastPrefix() {
    m_generating = true;
    m_unit.Generator = m_run.AfterPrefix();
    const auto limit = static_cast<std::int64_t>(m_run.prefixLimit());
    if (m_position > limit) {
        // In pieces of whole 256-step rounds, into a buffer of its own: StreamNext may be
        // handing out m_scratch.
        std::array<std::uint8_t, 4096> skipped;
        for (std::int64_t at = limit; at < m_position; at += static_cast<std::int64_t>(skipped.size()))
            m_unit.Generator.GenerateBlock(skipped);
        ::explicit_bzero(skipped.data(), skipped.size());
    }
    if (ThreadWorthwhile())
        StartThread();
}

// XORs the stream of the next block into `block`, from the thread where it has it; the generator
// as it stands after the block.
const KeystreamGenerator& PassStream::Make(std::span<std::uint8_t> block) {
    if (m_aheadLive && m_ahead->XorNext(block, m_unit.Generator))
        return m_ahead->nextGenerator();
    // Once the thread has fallen behind, the pass goes on alone from where it left off.
    m_unit.LastStreamAhead.FellBack |= m_aheadLive;
    m_aheadLive = false;
    m_unit.Generator.XorBlock(block);
    return m_unit.Generator;
}

} // namespace veltrane
