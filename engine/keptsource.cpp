#include "engine/keptsource.h"

namespace veltrane {

bool KeptSource::XorNext(std::span<std::uint8_t> block, std::int64_t position) {
    if (m_stopAtFrontier && static_cast<std::uint64_t>(position) == m_run.madeLength() &&
        static_cast<std::uint64_t>(position) < m_run.prefixLimit())
        return false;
    const std::span<const std::uint8_t> prefix = m_run.Prefix(position, block.size());
    if (prefix.empty())
        return false;
    XorBytes(block, prefix);
    return true;
}

} // namespace veltrane
