#include "main/engine/streamahead.h"

#include "main/engine/engineunit.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <type_traits>

#include <sched.h>

namespace veltrane {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::int64_t Empty = -1;
constexpr std::int64_t Stopped = -2;

// Blocks over which the pass's waiting is weighed against making them itself.
constexpr std::int64_t Window = 16;

// Threads of this process inside a pass: each pass's own and each second thread.
std::atomic<int> g_threadsInPasses{0};
// The shortest time seen for making one block; 0 while none has been measured.
std::atomic<std::int64_t> g_blockTime{0};

std::int64_t Now() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

inline void Pause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

} // namespace

struct StreamAhead::Slot {
    // The block whose stream Bytes hold, Empty when the pass has taken it, Stopped when the pass is
    // done with the thread.
    alignas(64) std::atomic<std::int64_t> Filled{Empty};
    KeystreamGenerator After; // the generator after this block
    alignas(PageAlignment) std::uint8_t Bytes[BlockSize];
};

StreamAhead::PassThread::PassThread() {
    g_threadsInPasses.fetch_add(1, std::memory_order_relaxed);
}

StreamAhead::PassThread::~PassThread() {
    g_threadsInPasses.fetch_sub(1, std::memory_order_relaxed);
}

bool StreamAhead::Worthwhile() {
    cpu_set_t processors;
    if (::sched_getaffinity(0, sizeof processors, &processors) != 0)
        return false;
    // The pass asking counts itself among the threads in passes already.
    return g_threadsInPasses.load(std::memory_order_relaxed) + 1 <= CPU_COUNT(&processors);
}

std::int64_t StreamAhead::BlockTime() {
    const std::int64_t measured = g_blockTime.load(std::memory_order_relaxed);
    // Unmeasured: about three cycles a byte at 2 GHz.
    return measured > 0 ? measured : 100'000;
}

void StreamAhead::NoteBlockTime(std::int64_t nanoseconds) {
    std::int64_t known = g_blockTime.load(std::memory_order_relaxed);
    while (nanoseconds > 0 && (known == 0 || nanoseconds < known) &&
           !g_blockTime.compare_exchange_weak(known, nanoseconds, std::memory_order_relaxed)) {
    }
}

StreamAhead::StreamAhead(const KeystreamGenerator& generator, std::int64_t blocks, std::size_t lastLength,
                         std::function<void(std::int64_t)> beforeBlock)
    : m_slots(new Slot[SlotCount]), m_blocks(blocks), m_lastLength(lastLength), m_beforeBlock(std::move(beforeBlock)),
      m_start(generator) {
    g_threadsInPasses.fetch_add(1, std::memory_order_relaxed);
    m_thread = std::thread([this, generator] { Run(generator); });
}

StreamAhead::~StreamAhead() {
    Stop();
    m_thread.join();
    g_threadsInPasses.fetch_sub(1, std::memory_order_relaxed);
    for (int n = 0; n < SlotCount; ++n) {
        Slot& slot = m_slots[n];
        ::explicit_bzero(slot.Bytes, sizeof slot.Bytes);
        ::explicit_bzero(static_cast<void*>(&slot.After), sizeof slot.After);
    }
    static_assert(std::is_trivially_copyable_v<KeystreamGenerator>, "the generator is wiped byte by byte");
    ::explicit_bzero(static_cast<void*>(&m_start), sizeof m_start);
}

void StreamAhead::Stop() {
    if (m_stopped)
        return;
    m_stopped = true;
    m_stop.store(true);
    // A changed slot wakes the thread wherever it waits; it then sees the stop.
    for (int n = 0; n < SlotCount; ++n) {
        m_slots[n].Filled.store(Stopped);
        m_slots[n].Filled.notify_all();
    }
}

bool StreamAhead::WaitForFree(Slot& slot) {
    // The pass frees a slot within a block's time: spin a little before sleeping on it.
    for (int spin = 0; slot.Filled.load(std::memory_order_acquire) != Empty; ++spin) {
        if (m_stop.load(std::memory_order_relaxed))
            return false;
        if (spin < 2000) {
            Pause();
            continue;
        }
        const std::int64_t seen = slot.Filled.load(std::memory_order_acquire);
        if (seen != Empty)
            slot.Filled.wait(seen, std::memory_order_acquire);
    }
    return !m_stop.load(std::memory_order_relaxed);
}

void StreamAhead::Run(KeystreamGenerator generator) {
    for (std::int64_t block = 0; block < m_blocks; ++block) {
        Slot& slot = m_slots[block % SlotCount];
        if (!WaitForFree(slot))
            break;
        if (m_beforeBlock) {
            m_beforeBlock(block);
            if (m_stop.load(std::memory_order_relaxed))
                break;
        }
        const std::size_t length = block + 1 == m_blocks ? m_lastLength : BlockSize;
        const std::int64_t start = Now();
        generator.GenerateBlock(std::span(slot.Bytes, length));
        if (length == BlockSize)
            NoteBlockTime(Now() - start);
        slot.After = generator;
        slot.Filled.store(block, std::memory_order_release);
    }
    ::explicit_bzero(static_cast<void*>(&generator), sizeof generator);
}

bool StreamAhead::XorNext(std::span<std::uint8_t> block, KeystreamGenerator& generator) {
    if (m_stopped || m_next >= m_blocks) {
        generator = m_start;
        return false;
    }
    Slot& slot = m_slots[m_next % SlotCount];
    if (slot.Filled.load(std::memory_order_acquire) != m_next) {
        // Waiting longer than making the block alone would take is time lost; the first block also
        // allows for the thread's start.
        const std::int64_t own = BlockTime();
        const std::int64_t began = Now();
        const std::int64_t patience = 2 * own + (m_next == 0 ? 500'000 : 0);
        while (slot.Filled.load(std::memory_order_acquire) != m_next) {
            if (Now() - began > patience) {
                Stop();
                generator = m_start;
                return false;
            }
            Pause();
        }
        m_waited += Now() - began;
    }
    XorBytes(block, std::span(slot.Bytes, block.size()));
    m_start = slot.After;
    slot.Filled.store(Empty, std::memory_order_release);
    slot.Filled.notify_one();
    ++m_next;
    // Over a window of blocks, waiting for most of what making them would have cost gains nothing.
    if (m_next % Window == 0) {
        const bool behind = m_waited * 4 > Window * BlockTime() * 3;
        m_waited = 0;
        if (behind)
            Stop();
    }
    return true;
}

} // namespace veltrane
