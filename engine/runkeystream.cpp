#include "engine/runkeystream.h"

#include "engine/engineunit.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#include <sys/mman.h>

namespace veltrane {

RunKeystream::RunKeystream(std::span<const std::uint8_t> keyText, std::size_t prefixLimit)
    : m_limit(prefixLimit / BlockSize * BlockSize) {
    m_scheduled.ScheduleKey(keyText);
    m_frontier = m_scheduled;
    if (m_limit == 0)
        return;
    // Mapped rather than allocated so that only the pages the run fills count; the stream is as
    // good as the key for the files of the run, so it stays out of core dumps.
    void* room = ::mmap(nullptr, m_limit, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (room == MAP_FAILED) {
        m_limit = 0;
        return;
    }
    ::madvise(room, m_limit, MADV_DONTDUMP);
    m_bytes = static_cast<std::uint8_t*>(room);
}

RunKeystream::~RunKeystream() {
    if (m_bytes) {
        ::explicit_bzero(m_bytes, m_made.load());
        ::munmap(m_bytes, m_limit);
    }
    m_scheduled.Wipe();
    m_frontier.Wipe();
}

bool RunKeystream::Serves(std::span<const std::uint8_t> keyText) const {
    const auto& table = m_scheduled.keyTable();
    for (std::size_t n = 0; n < table.size(); ++n) {
        if (table[n] != (n < keyText.size() ? keyText[n] : 0xFF))
            return false;
    }
    return true;
}

void RunKeystream::MakeUpTo(std::size_t end) {
    const std::lock_guard lock(m_making);
    // Whole blocks, each published as soon as it is made, so that another unit waits for no more
    // than the block it needs.
    for (std::size_t made = m_made.load(std::memory_order_relaxed); made < end; made += BlockSize) {
        m_frontier.GenerateBlock(std::span(m_bytes + made, BlockSize));
        m_made.store(made + BlockSize, std::memory_order_release);
    }
}

std::span<const std::uint8_t> RunKeystream::Prefix(std::int64_t offset, std::size_t length) {
    if (length == 0 || offset < 0 || static_cast<std::uint64_t>(offset) > m_limit ||
        length > m_limit - static_cast<std::size_t>(offset))
        return {};
    const auto start = static_cast<std::size_t>(offset);
    if (start + length > m_made.load(std::memory_order_acquire))
        MakeUpTo(start + length);
    return {m_bytes + start, length};
}

bool RunKeystream::FrontierAt(std::int64_t offset, KeystreamGenerator& into) {
    const std::lock_guard lock(m_making);
    if (offset < 0 || static_cast<std::uint64_t>(offset) != m_made.load(std::memory_order_relaxed) ||
        static_cast<std::size_t>(offset) >= m_limit)
        return false;
    into = m_frontier;
    return true;
}

std::span<const std::uint8_t> RunKeystream::Keep(
    std::int64_t offset, const std::function<const KeystreamGenerator&(std::span<std::uint8_t>)>& make) {
    const std::lock_guard lock(m_making);
    const std::size_t made = m_made.load(std::memory_order_relaxed);
    if (offset < 0 || static_cast<std::uint64_t>(offset) != made || m_limit - made < BlockSize)
        return {};
    // Zeroed first, so that the stream XORed in is the stream itself, whatever an earlier call
    // that did not get to the end left here.
    const std::span<std::uint8_t> room(m_bytes + made, BlockSize);
    std::fill(room.begin(), room.end(), 0);
    try {
        m_frontier = make(room);
    } catch (...) {
        ::explicit_bzero(room.data(), room.size());
        throw;
    }
    m_made.store(made + BlockSize, std::memory_order_release);
    return room;
}

KeystreamGenerator RunKeystream::AfterPrefix() {
    if (m_made.load(std::memory_order_acquire) < m_limit)
        MakeUpTo(m_limit);
    const std::lock_guard lock(m_making);
    return m_frontier;
}

void XorBytes(std::span<std::uint8_t> data, std::span<const std::uint8_t> stream) {
    std::uint8_t* out = data.data();
    const std::uint8_t* in = stream.data();
    const std::size_t length = std::min(data.size(), stream.size());
    std::size_t n = 0;
#if defined(__GNUC__) || defined(__clang__)
    // Sixteen bytes at a time in the machine's vector registers; memcpy keeps the loads and stores
    // free of alignment assumptions.
    using Vector = std::uint64_t __attribute__((vector_size(16)));
    for (; n + 4 * sizeof(Vector) <= length; n += 4 * sizeof(Vector)) {
        Vector d[4], s[4];
        std::memcpy(d, out + n, sizeof d);
        std::memcpy(s, in + n, sizeof s);
        for (int k = 0; k < 4; ++k)
            d[k] ^= s[k];
        std::memcpy(out + n, d, sizeof d);
    }
#endif
    for (; n < length; ++n)
        out[n] ^= in[n];
}

} // namespace veltrane
