#pragma once
// The keystream of a pass, block after block from a block boundary up to an end, from the source the
// rule picks (keystreamsource.h). Stream bytes it hands out in buffers of its own are wiped when it
// goes.

#include "engine/engineunit.h"
#include "engine/keystreamsource.h"
#include "engine/streamahead.h"

#include <cstdint>
#include <memory>
#include <span>

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
    EngineUnit& m_unit;
    std::int64_t m_position;
    std::int64_t m_end;
    bool m_frontierTried = false; // for the rule (see PickKeystreamSource)
    SecretBytes m_scratch;
    StreamAhead::PassThread m_counted;
    std::unique_ptr<KeystreamSource> m_source; // the source in hand, none before the first block
};

} // namespace veltrane
