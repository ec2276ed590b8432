#include "engine/streamahead.h"

#include "engine/engineunit.h"

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <new>
#include <system_error>
#include <type_traits>

#include <sched.h>

#if defined(__x86_64__)
#include <emmintrin.h>
#endif

namespace veltrane {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::int64_t Empty = -1;
constexpr std::int64_t Stopped = -2;

// Blocks over which the thread's share is weighed: one that makes fewer than a quarter of them in
// time only takes a processor from other programs.
constexpr std::int64_t Window = 32;

// Threads of this process inside a pass: each pass's own and each second thread.
std::atomic<int> g_threadsInPasses{0};
// Set by tests: creating the second thread fails as it does at the process's thread limit.
std::atomic<bool> g_refuseThreads{false};
// The shortest time seen for making one block; 0 while none has been measured.
std::atomic<std::int64_t> g_blockTime{0};

std::int64_t Now() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// The thread makes a block in pieces of this many bytes and counts each, so that the pass can
// tell a thread at work from one that has lost its processor. A multiple of 256: every piece
// starts at step index 0 like the block.
constexpr std::size_t PieceSize = 4096;

// How the thread puts its stream into the slots. The pass reads each slot on the other processor,
// which leaves its lines in that processor's cache. Written directly, each line the thread stores
// into the next time round must first be taken back from there: on some virtual machines that made
// the thread two to three times slower, on others it is the faster way. So each process tries both
// and keeps the faster: a piece made in this thread's cache and copied out with stores that go past
// the caches, or the stream made straight into the slot.
enum class SlotWrites : int { Untried, PastCaches, Direct };
std::atomic<SlotWrites> g_slotWrites{SlotWrites::Untried};

// Blocks the trial takes turns over (after each slot has been written and read twice).
constexpr std::int64_t TrialBlocks = 8;

void StreamOut(std::uint8_t* to, const std::uint8_t* from, std::size_t length) {
#if defined(__x86_64__)
    std::size_t done = 0;
    for (; done + 16 <= length; done += 16)
        _mm_stream_si128(reinterpret_cast<__m128i*>(to + done),
                         _mm_load_si128(reinterpret_cast<const __m128i*>(from + done)));
    std::memcpy(to + done, from + done, length - done);
    // The slot is handed over by a release store, which does not order these stores; this does.
    _mm_sfence();
#else
    std::memcpy(to, from, length);
#endif
}

} // namespace

struct StreamAhead::Slot {
    // A block of the stream and the generator after it: secret memory.
    VELTRANE_SECRET_OBJECTS

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
    : m_blocks(blocks), m_lastLength(lastLength), m_beforeBlock(std::move(beforeBlock)), m_start(generator) {
    // Where the process may have no more threads (a limit on processes, or on its address space for
    // the thread's stack) or no room for the slots, the pass goes on alone, as after a stop.
    g_threadsInPasses.fetch_add(1, std::memory_order_relaxed);
    try {
        m_slots.reset(new Slot[SlotCount]);
        if (g_refuseThreads.load(std::memory_order_relaxed))
            throw std::system_error(EAGAIN, std::generic_category(), "thread creation refused for a test");
        m_thread = std::thread([this, generator] { Run(generator); });
    } catch (const std::system_error&) {
        Unmade();
    } catch (const std::bad_alloc&) {
        Unmade();
    }
}

void StreamAhead::Unmade() {
    g_threadsInPasses.fetch_sub(1, std::memory_order_relaxed);
    m_stopped = true;
}

StreamAhead::~StreamAhead() {
    if (!m_thread.joinable()) {
        WipeSlots();
        return;
    }
    Stop();
    m_thread.join();
    g_threadsInPasses.fetch_sub(1, std::memory_order_relaxed);
    WipeSlots();
}

void StreamAhead::WipeSlots() {
    for (int n = 0; m_slots && n < SlotCount; ++n) {
        Slot& slot = m_slots[n];
        ::explicit_bzero(slot.Bytes, sizeof slot.Bytes);
        slot.After.Wipe();
    }
    m_start.Wipe();
    m_handed.Wipe();
}

int StreamAhead::ThreadsInPasses() {
    return g_threadsInPasses.load(std::memory_order_relaxed);
}

void StreamAhead::RefuseThreads(bool refuse) {
    g_refuseThreads.store(refuse, std::memory_order_relaxed);
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

bool StreamAhead::WaitForFree(Slot& slot, std::int64_t block) {
    // The pass frees a slot within a block's time: spin for that long before sleeping on it. The
    // spins here and in XorNext are plain loads without a pause instruction: on a virtual machine a
    // loop of pauses can hand the processor back to the host, and the waits are short.
    const std::int64_t since = Now();
    while (slot.Filled.load(std::memory_order_acquire) != Empty) {
        if (m_stop.load(std::memory_order_relaxed) || m_handedBlock.load(std::memory_order_acquire) >= block)
            return false;
        if (Now() - since < BlockTime())
            continue;
        // Stopped is not a slot's last value (this thread may still fill the slot after the pass has
        // marked it), so it is not what ends the wait. The stop flag is: Stop() sets it before it
        // marks the slots, so a wait that began on a value read before the marking is woken by it,
        // and a value read after it means the flag is already set for the next round of the loop.
        // Waiting on Stopped itself could last for good: nothing changes a slot after the marking.
        const std::int64_t seen = slot.Filled.load(std::memory_order_acquire);
        if (seen != Empty && seen != Stopped)
            slot.Filled.wait(seen, std::memory_order_acquire);
    }
    return !m_stop.load(std::memory_order_relaxed);
}

void StreamAhead::Run(KeystreamGenerator generator) {
    // Pieces copied out past the caches are made here, where they stay in this processor's cache.
    alignas(16) std::uint8_t piece[PieceSize];
    const std::int64_t trialFrom = 2 * SlotCount;
    std::int64_t fastest[2] = {0, 0}; // the trial's shortest block, copied out and made directly
    for (std::int64_t block = 0; block < m_blocks && !m_stop.load(std::memory_order_relaxed);) {
        // Where the pass has made blocks itself, go on after the last of them.
        if (m_handedBlock.load(std::memory_order_acquire) >= block) {
            const std::lock_guard lock(m_handing);
            block = m_handedBlock.load(std::memory_order_relaxed) + 1;
            generator = m_handed;
            continue;
        }
        Slot& slot = m_slots[block % SlotCount];
        if (!WaitForFree(slot, block))
            continue;
        if (m_beforeBlock)
            m_beforeBlock(block);
        m_making.store(block, std::memory_order_release);
        const std::size_t length = block + 1 == m_blocks ? m_lastLength : BlockSize;
        SlotWrites writes = g_slotWrites.load(std::memory_order_relaxed);
        const bool trial = writes == SlotWrites::Untried && block >= trialFrom && block < trialFrom + TrialBlocks;
        if (trial)
            writes = block % 2 == 0 ? SlotWrites::PastCaches : SlotWrites::Direct;
        const std::int64_t start = Now();
        for (std::size_t done = 0; done < length; done += PieceSize) {
            const std::size_t n = std::min(PieceSize, length - done);
            if (writes == SlotWrites::Direct) {
                generator.GenerateBlock(std::span(slot.Bytes + done, n));
            } else {
                generator.GenerateBlock(std::span(piece, n));
                StreamOut(slot.Bytes + done, piece, n);
            }
            m_pieces.store(m_pieces.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
        }
        const std::int64_t took = Now() - start;
        if (length == BlockSize) {
            NoteBlockTime(took);
            if (trial) {
                std::int64_t& best = fastest[writes == SlotWrites::Direct];
                best = best == 0 ? took : std::min(best, took);
                if (fastest[0] > 0 && fastest[1] > 0 && block + 1 == trialFrom + TrialBlocks)
                    g_slotWrites.store(fastest[1] < fastest[0] ? SlotWrites::Direct : SlotWrites::PastCaches,
                                       std::memory_order_relaxed);
            }
        }
        slot.After = generator;
        slot.Filled.store(block, std::memory_order_release);
        ++block;
    }
    ::explicit_bzero(static_cast<void*>(&generator), sizeof generator);
    ::explicit_bzero(piece, sizeof piece);
}

void StreamAhead::FreeTakenOver(std::int64_t next) {
    // Blocks the thread finished after the pass had made them itself only hold up its slots.
    for (int n = 0; n < SlotCount; ++n) {
        Slot& slot = m_slots[n];
        const std::int64_t filled = slot.Filled.load(std::memory_order_acquire);
        if (filled >= 0 && filled < next) {
            slot.Filled.store(Empty, std::memory_order_release);
            slot.Filled.notify_one();
        }
    }
}

bool StreamAhead::XorNext(std::span<std::uint8_t> block, KeystreamGenerator& generator) {
    if (m_stopped || m_next >= m_blocks) {
        generator = m_start;
        return false;
    }
    FreeTakenOver(m_next);
    Slot& slot = m_slots[m_next % SlotCount];
    // Waiting pays only while the thread is at work on this very block and gets on with it; once
    // it has made no piece for a quarter of a block's time it may have lost its processor, and
    // making the block here costs less than waiting for it to come back.
    const std::int64_t stall = BlockTime() / 4;
    std::int64_t pieces = m_pieces.load(std::memory_order_relaxed);
    std::int64_t progressAt = Now();
    while (slot.Filled.load(std::memory_order_acquire) != m_next &&
           m_making.load(std::memory_order_acquire) == m_next) {
        const std::int64_t now = Now();
        if (const std::int64_t seen = m_pieces.load(std::memory_order_relaxed); seen != pieces) {
            pieces = seen;
            progressAt = now;
        } else if (now - progressAt > stall) {
            break;
        }
    }
    if (slot.Filled.load(std::memory_order_acquire) == m_next) {
        XorBytes(block, std::span(slot.Bytes, block.size()));
        m_start = slot.After;
        slot.Filled.store(Empty, std::memory_order_release);
        slot.Filled.notify_one();
        ++m_fromThread;
        ++m_windowFromThread;
    } else {
        m_start.XorBlock(block);
        {
            const std::lock_guard lock(m_handing);
            m_handed = m_start;
            m_handedBlock.store(m_next, std::memory_order_release);
        }
        // The thread may sleep on a full slot of blocks made here already.
        FreeTakenOver(m_next + 1);
    }
    ++m_next;
    if (m_next % Window == 0) {
        const bool missing = m_windowFromThread * 4 < Window;
        m_windowFromThread = 0;
        if (missing)
            Stop();
    }
    return true;
}

} // namespace veltrane
