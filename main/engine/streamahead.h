#pragma once
// The keystream of the blocks ahead of a pass, made on a second thread while the pass reads, XORs
// and writes the block in hand, so that a block costs the larger of the two instead of their sum.
//
// The thread only ever fills its own buffers; the pass takes each block's stream from them in
// order, and everything else (the file, the record, the progress display) stays with the pass's
// own thread. The thread is worth having only while it keeps ahead: when the pass finds itself
// waiting for it longer than making the block itself would take (the other processor is busy, say),
// it stops the thread and goes on alone from where the thread's last block left the generator, so a
// pass with the thread is never slower than one without by more than a few blocks' waiting.

#include "main/engine/keystream.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <thread>

namespace veltrane {

// What happened to the second thread in the last pass (for tests and the benchmark).
struct StreamAheadFigures {
    bool Started = false;    // the pass had a second thread
    bool FellBack = false;   // and went on without it, the thread having fallen behind
    std::int64_t Blocks = 0; // blocks whose stream the thread made
};

class StreamAhead {
public:
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
    // before it makes each block (tests slow the thread down with it).
    StreamAhead(const KeystreamGenerator& generator, std::int64_t blocks, std::size_t lastLength,
                std::function<void(std::int64_t)> beforeBlock = {});
    // Stops the thread, waits for it and wipes its buffers.
    ~StreamAhead();
    StreamAhead(const StreamAhead&) = delete;
    StreamAhead& operator=(const StreamAhead&) = delete;

    // XORs the next block's stream into `block`, true; or false when the thread has fallen behind:
    // it is stopped for good, and `generator` is left as it stands at the start of this block for the
    // caller to go on alone.
    bool XorNext(std::span<std::uint8_t> block, KeystreamGenerator& generator);

    std::int64_t blocksTaken() const { return m_next; }

    // Nanoseconds that making one block takes on this machine, as last measured (or a guess).
    static std::int64_t BlockTime();
    static void NoteBlockTime(std::int64_t nanoseconds);

private:
    struct Slot;
    static constexpr int SlotCount = 4;

    void Run(KeystreamGenerator generator);
    bool WaitForFree(Slot& slot);
    void Stop();

    std::unique_ptr<Slot[]> m_slots;
    std::int64_t m_blocks;
    std::size_t m_lastLength;
    std::function<void(std::int64_t)> m_beforeBlock;
    std::atomic<bool> m_stop{false};
    bool m_stopped = false;
    // The pass's side: the next block to take, the generator at its start, and how long it waited.
    std::int64_t m_next = 0;
    KeystreamGenerator m_start;
    std::int64_t m_waited = 0;
    std::thread m_thread;
};

} // namespace veltrane
