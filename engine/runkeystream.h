#pragma once
// The keystream every file of a run begins with. Each file restarts the stream from the run's key,
// so the scheduled tables and the first bytes of the stream are the same for all of them: they are
// made once per run and kept here, the stream up to a bound (16 MiB), and a pass XORs from them
// instead of generating the same bytes again.
//
// One object may serve several engine units at once (the tool's workers share one, so that memory
// grows by the bound at most whatever the number of workers). The stream is made block by block as
// the first pass to need a block gets there; bytes once made never change, so readers take them
// without a lock. Everything is wiped when the object goes, that is when the last unit using it
// lets go at the end of the run.

#include "engine/keystream.h"

#include "engine/secretmemory.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>

namespace veltrane {

class RunKeystream {
public:
    // Made with new, its tables are in secret memory (see secretmemory.h); the stream it keeps is
    // mapped apart and left out of core dumps.
    VELTRANE_SECRET_OBJECTS

    static constexpr std::size_t DefaultPrefixLimit = std::size_t{16} << 20;

    // Schedules `keyText`. `prefixLimit` is rounded down to whole blocks of the pass; room for it is
    // only reserved here, and filled as the stream is made. Where the room cannot be had, the run
    // goes on without a kept stream.
    explicit RunKeystream(std::span<const std::uint8_t> keyText, std::size_t prefixLimit = DefaultPrefixLimit);
    ~RunKeystream();
    RunKeystream(const RunKeystream&) = delete;
    RunKeystream& operator=(const RunKeystream&) = delete;

    // Whether this is the stream of `keyText`: the same key table, so the same stream (keys that
    // agree in their first 256 bytes, or differ only by trailing 255s that the padding adds anyway).
    bool Serves(std::span<const std::uint8_t> keyText) const;

    // The generator as ScheduleKey leaves it, for every use that starts the stream afresh.
    const KeystreamGenerator& Scheduled() const { return m_scheduled; }

    std::size_t prefixLimit() const { return m_limit; }
    // How much of the prefix has been made so far.
    std::size_t madeLength() const { return m_made.load(std::memory_order_acquire); }

    // Keystream bytes [offset, offset + length) when they lie within the prefix, making whatever of
    // them is not made yet; empty when they reach beyond it (or length is 0).
    std::span<const std::uint8_t> Prefix(std::int64_t offset, std::size_t length);

    // Where the prefix is made up to exactly `offset` and not yet whole: the generator as it stands
    // there, into `into`, for a pass that makes the rest of the prefix as it goes; false otherwise.
    bool FrontierAt(std::int64_t offset, KeystreamGenerator& into);

    // Whether a pass that makes the prefix ahead of it should keep what it makes: not the first of the
    // run to ask, since a run of one file never reads the stream back and keeping it costs the room's
    // pages and a copy of each block; every later one, whose file shows the run has more.
    bool KeepsFromHere() { return m_askedToKeep.exchange(true, std::memory_order_relaxed); }

    // Where the prefix is made up to exactly `offset` and has room for a whole block more: `make`
    // XORs that block's stream into the zeroed bytes it is given and returns the generator after
    // it, and the block is kept. The block's bytes, or empty (and `make` not called) otherwise.
    std::span<const std::uint8_t> Keep(std::int64_t offset,
                                       const std::function<const KeystreamGenerator&(std::span<std::uint8_t>)>& make);

    // The generator as it stands after the whole prefix: its next XorBlock starts at byte
    // prefixLimit() of a file.
    KeystreamGenerator AfterPrefix();

private:
    void MakeUpTo(std::size_t end);

    KeystreamGenerator m_scheduled;
    std::uint8_t* m_bytes = nullptr;
    std::size_t m_limit = 0;
    std::atomic<std::size_t> m_made{0};
    std::atomic<bool> m_askedToKeep{false};
    std::mutex m_making;
    KeystreamGenerator m_frontier; // after the first m_made bytes; under m_making
};

// XORs `stream` into `data` (of the same length).
void XorBytes(std::span<std::uint8_t> data, std::span<const std::uint8_t> stream);

} // namespace veltrane
