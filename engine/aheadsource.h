#pragma once
// The stream of a pass made on a second thread ahead of it (streamahead.h); once the thread stops,
// the pass goes on alone with the unit's generator from where the thread left off.

#include "engine/keystreamsource.h"
#include "engine/runkeystream.h"
#include "engine/streamahead.h"

#include <memory>

namespace veltrane {

class AheadSource : public KeystreamSource {
public:
    // The stream of the pass's `blocks` blocks (`length` bytes) from where unit.Generator stands. Each
    // whole block made where the pass is at the end of what `keepInto` (may be null) has made is kept
    // there. The unit's figures say what became of the thread once the source goes.
    AheadSource(EngineUnit& unit, std::int64_t blocks, std::int64_t length, RunKeystream* keepInto);
    ~AheadSource() override;
    KeystreamSourceKind Kind() const override { return KeystreamSourceKind::Ahead; }
    bool XorNext(std::span<std::uint8_t> block, std::int64_t position) override;

private:
    const KeystreamGenerator& Make(std::span<std::uint8_t> block);

    EngineUnit& m_unit;
    RunKeystream* m_keepInto;
    std::unique_ptr<StreamAhead> m_ahead; // made with new, for its secret memory
    bool m_aheadLive = true;
};

} // namespace veltrane
