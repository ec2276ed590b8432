#pragma once
// The keystream of a pass, block after block from a block boundary up to an end: XORed from the
// run's kept prefix as far as it is made, and from there made by the unit's generator, on a second
// thread ahead of the pass where that helps (see streamahead.h). Blocks it makes within the prefix are
// kept there for the passes after it. Stream bytes it hands out in buffers of its own are wiped when
// it goes.

#include "engine/engineunit.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace veltrane {

class PassStream {
public:
    // The stream from byte `from` (on a block boundary) of a file up to byte `end`.
    PassStream(EngineUnit& unit, std::int64_t from, std::int64_t end);
    ~PassStream();
    PassStream(const PassStream&) = delete;
    PassStream& operator=(const PassStream&) = delete;

    // XORs the stream of the next block into `block`; every block but a file's last is BlockSize.
    void XorNext(std::span<std::uint8_t> block);

    // The stream of the next block itself, in a buffer of this object's (valid until the next call).
    std::span<const std::uint8_t> StreamNext(std::size_t length);

private:
    std::int64_t BlocksLeft() const;
    bool ThreadWorthwhile() const;
    void StartThread();
    bool StartInPrefix();
    void StartPastPrefix();
    const KeystreamGenerator& Make(std::span<std::uint8_t> block);

    EngineUnit& m_unit;
    RunKeystream& m_run;
    std::int64_t m_position;
    std::int64_t m_end;
    bool m_generating = false; // the blocks from here on are made, not taken from the prefix
    bool m_triedInPrefix = false;
    SecretBytes m_scratch;
    StreamAhead::PassThread m_counted;
    std::unique_ptr<StreamAhead> m_ahead; // made with new, for its secret memory
    bool m_aheadLive = false;
};

} // namespace veltrane
