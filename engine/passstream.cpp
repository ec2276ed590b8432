#include "engine/passstream.h"

#include <algorithm>
#include <cstring>

namespace veltrane {

PassStream::PassStream(EngineUnit& unit, std::int64_t from, std::int64_t end)
    : m_unit(unit), m_position(from), m_end(end) {
    // A copy of the run's schedule stands for a fresh ScheduleKey of the same key.
    m_unit.Generator = unit.KeystreamOfRun().Scheduled();
    m_unit.LastStreamSources = {};
}

PassStream::~PassStream() {
    if (!m_scratch.empty())
        ::explicit_bzero(m_scratch.data(), m_scratch.size());
}

void PassStream::XorNext(std::span<std::uint8_t> block) {
    if (block.empty())
        return;
    while (!m_source || !m_source->XorNext(block, m_position))
        m_source = PickKeystreamSource(m_unit, m_position, m_end, m_frontierTried);
    ++m_unit.LastStreamSources.Blocks[static_cast<std::size_t>(m_source->Kind())];
    m_position += static_cast<std::int64_t>(block.size());
}

std::span<const std::uint8_t> PassStream::StreamNext(std::size_t length) {
    m_scratch.resize(std::max(m_scratch.size(), length));
    const std::span<std::uint8_t> bytes(m_scratch.data(), length);
    std::fill(bytes.begin(), bytes.end(), 0);
    XorNext(bytes);
    return bytes;
}

} // namespace veltrane
