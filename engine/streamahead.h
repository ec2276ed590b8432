#pragma once
// The keystream of the blocks ahead of a pass, made on a second thread while the pass reads, XORs
// and writes the block in hand, so that a block costs the larger of the two instead of their sum.
//
// The thread only ever fills its own buffers; the pass takes each block's stream from them in
// order, and everything else (the file, the record, the progress display) stays with the pass's
// own thread. The pass never waits for a thread that is not at work on the very block it needs:
// when the block is not there (the thread has not started yet, or has stopped making headway, having
// lost its processor to another program), the pass makes it itself and hands the generator as it left it to the thread, which
// picks up from there. A pass with the thread is so never slower than one without by more than a
// short wait now and then; where the thread keeps missing its blocks it is stopped.

#include "engine/keystream.h"
#include "engine/secretmemory.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <thread>

namespace veltrane {

class StreamAhead {
public:
    // Its generators are as good as the key: made with new, it lives where core dumps do not look.
    VELTRANE_SECRET_OBJECTS

    // Passes with fewer blocks left to generate than this are not worth a thread.
    static constexpr std::int64_t MinimumBlocks = 8;

    // Counts the thread of a pass among the threads in passes while it lives.
    struct PassThread {
        PassThread();
        ~PassThread();
        PassThread(const PassThread&) = delete;
        PassThread& operator=(const PassThread&) = delete;
    };

    // Whether a second thread can help now: one of the processors the process may use is free of
    // the passes running in it and of their threads.
    static bool Worthwhile();

    // Starts the thread on `blocks` blocks (every one BlockSize but the last, `lastLength` long),
    // the first of which `generator` would make next. `beforeBlock`, when set, runs on the thread
    // before it makes each block (tests slow the thread down with it). Where the thread or its
    // buffers cannot be had, nothing is thrown: XorNext returns false from the first block on, and
    // the pass makes the stream itself.
    StreamAhead(const KeystreamGenerator& generator, std::int64_t blocks, std::size_t lastLength,
                std::function<void(std::int64_t)> beforeBlock = {});
    // Stops the thread, waits for it and wipes its buffers.
    ~StreamAhead();
    StreamAhead(const StreamAhead&) = delete;
    StreamAhead& operator=(const StreamAhead&) = delete;

    // XORs the next block's stream into `block` (made by the thread, or here when the thread does
    // not have it), true; false once the thread has been stopped for missing most of its blocks:
    // then `generator` is left as it stands at the start of this block for the caller to go on alone.
    bool XorNext(std::span<std::uint8_t> block, KeystreamGenerator& generator);

    // The generator as it stands after the last block XorNext gave.
    const KeystreamGenerator& nextGenerator() const { return m_start; }

    // Blocks whose stream the thread made in time.
    std::int64_t blocksFromThread() const { return m_fromThread; }

    // Threads of this process inside passes now: each pass's own and each second thread.
    static int ThreadsInPasses();
    // For tests: while set, making the second thread fails as at the process's thread limit.
    static void RefuseThreads(bool refuse);

    // Nanoseconds that making one block takes on this machine, as last measured (or a guess).
    static std::int64_t BlockTime();
    static void NoteBlockTime(std::int64_t nanoseconds);

private:
    struct Slot;
    static constexpr int SlotCount = 4;

    void Unmade();
    void WipeSlots();
    void Run(KeystreamGenerator generator);
    bool WaitForFree(Slot& slot, std::int64_t block);
    void FreeTakenOver(std::int64_t next);
    void Stop();

    std::unique_ptr<Slot[]> m_slots;
    std::int64_t m_blocks;
    std::size_t m_lastLength;
    std::function<void(std::int64_t)> m_beforeBlock;
    std::atomic<bool> m_stop{false};
    bool m_stopped = false;
    // What the thread is at: the block it is making (-1: none yet) and the pieces it has made in all.
    std::atomic<std::int64_t> m_making{-1};
    std::atomic<std::int64_t> m_pieces{0};
    // The last block the pass made itself and the generator after it, for the thread to go on from.
    std::mutex m_handing;
    std::atomic<std::int64_t> m_handedBlock{-1};
    KeystreamGenerator m_handed;
    // The pass's side: the next block to take, the generator at its start, the blocks the thread made
    // in time (in all, and in the current window of blocks).
    std::int64_t m_next = 0;
    KeystreamGenerator m_start;
    std::int64_t m_fromThread = 0;
    std::int64_t m_windowFromThread = 0;
    std::thread m_thread;
};

} // namespace veltrane
