#include "main/engine/runkeystream.h"

#include "main/engine/engineunit.h"
#include "main/engine/streamahead.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <system_error>
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
    m_stopAhead.store(true, std::memory_order_relaxed);
    JoinAhead();
    if (m_bytes) {
        ::explicit_bzero(m_bytes, m_made.load());
        ::munmap(m_bytes, m_limit);
    }
    static_assert(std::is_trivially_copyable_v<KeystreamGenerator>, "the generator is wiped byte by byte");
    ::explicit_bzero(static_cast<void*>(&m_scheduled), sizeof m_scheduled);
    ::explicit_bzero(static_cast<void*>(&m_frontier), sizeof m_frontier);
}

bool RunKeystream::Serves(std::span<const std::uint8_t> keyText) const {
    const auto& table = m_scheduled.keyTable();
    for (std::size_t n = 0; n < table.size(); ++n) {
        if (table[n] != (n < keyText.size() ? keyText[n] : 0xFF))
            return false;
    }
    return true;
}

bool RunKeystream::MakeBlock(std::size_t end) {
    // One block a time under the lock, each published as soon as it is made, so that another unit
    // or the thread ahead waits for no more than the block it needs.
    const std::lock_guard lock(m_making);
    const std::size_t made = m_made.load(std::memory_order_relaxed);
    if (made >= end)
        return false;
    m_frontier.GenerateBlock(std::span(m_bytes + made, BlockSize));
    m_made.store(made + BlockSize, std::memory_order_release);
    return true;
}

void RunKeystream::MakeUpTo(std::size_t end) {
    // While the thread ahead makes headway, its next block comes sooner than one made here, and
    // making it here would only hold the thread up. Once it has made nothing for two blocks' time it
    // may have lost its processor: the blocks are then made here, without waiting again, until it
    // makes one more. The spin is a plain load without a pause instruction, which on a virtual
    // machine can hand the processor back to the host.
    const auto stall = std::chrono::nanoseconds(2 * StreamAhead::BlockTime());
    std::size_t seen = m_made.load(std::memory_order_acquire);
    auto progressAt = std::chrono::steady_clock::now();
    while (seen < end) {
        if (m_aheadAtWork.load(std::memory_order_acquire) && !m_aheadStalled.load(std::memory_order_relaxed)) {
            const auto now = std::chrono::steady_clock::now();
            if (const std::size_t made = m_made.load(std::memory_order_acquire); made != seen) {
                seen = made;
                progressAt = now;
                continue;
            }
            if (now - progressAt < stall)
                continue;
            m_aheadStalled.store(true, std::memory_order_relaxed);
        }
        MakeBlock(end);
        seen = m_made.load(std::memory_order_acquire);
    }
}

bool RunKeystream::MakeAhead(std::size_t end, std::function<void(std::int64_t)> beforeBlock) {
    end = std::min(end, m_limit);
    const std::lock_guard lock(m_starting);
    if (m_aheadAtWork.load(std::memory_order_acquire) || m_made.load(std::memory_order_acquire) >= end)
        return false;
    if (m_ahead.joinable())
        m_ahead.join();
    m_aheadAtWork.store(true, std::memory_order_release);
    m_aheadStalled.store(false, std::memory_order_relaxed);
    try {
        m_ahead = std::thread([this, end, beforeBlock = std::move(beforeBlock)] {
            {
                const StreamAhead::PassThread counted;
                for (std::int64_t block = 0; !m_stopAhead.load(std::memory_order_relaxed); ++block) {
                    if (beforeBlock)
                        beforeBlock(block);
                    if (!MakeBlock(end))
                        break;
                    m_aheadStalled.store(false, std::memory_order_relaxed);
                }
            }
            m_aheadAtWork.store(false, std::memory_order_release);
        });
    } catch (const std::system_error&) {
        // Without a thread the passes make the prefix themselves.
        m_aheadAtWork.store(false, std::memory_order_release);
        return false;
    }
    return true;
}

void RunKeystream::JoinAhead() {
    const std::lock_guard lock(m_starting);
    if (m_ahead.joinable())
        m_ahead.join();
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

KeystreamGenerator RunKeystream::AfterPrefix() {
    if (m_made.load(std::memory_order_acquire) < m_limit)
        MakeUpTo(m_limit);
    // The thread ahead is done with the prefix: gone, it no longer counts as a thread in a pass
    // when the pass decides whether a thread for the stream beyond is worth it.
    JoinAhead();
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
