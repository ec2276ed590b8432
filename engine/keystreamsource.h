#pragma once
// Where a pass takes the keystream of its blocks from, and the one rule that picks it. Three sources
// give the same bytes in their own ways:
//   kept     the run's kept stream (runkeystream.h), which makes what it lacks as the first pass to
//            need it gets there; it reaches only as far as the kept prefix;
//   inplace  the unit's generator, run on the pass's own thread;
//   ahead    the generator run on a second thread ahead of the pass (streamahead.h); the pass makes
//            the blocks the thread does not have in time, and goes on alone once it stops.
// The rule, asked at a pass's first block and again wherever the source in hand has no more:
//   1. A source forced for the unit (EngineUnit::StreamSource, which starts as the one
//      VELTRANE_STREAM_SOURCE names) serves every pass of it; inplace and ahead then start the
//      generator afresh from the key, run up to the pass's first byte, and neither read nor extend
//      the kept stream; kept serves as far as the prefix, and the generator in place past it.
//   2. Within the prefix, the kept stream; but where the pass reaches the end of what the prefix has
//      made so far (once a pass), a second thread if one is worth it (3), which makes the rest of the
//      prefix too, the pass keeping each block there for the passes after it (but for the run's first
//      such pass: RunKeystream::KeepsFromHere).
//   3. Past the prefix, a second thread where one is worth it: StreamAhead::MinimumBlocks blocks or
//      more left to make, a processor free of passes (StreamAhead::Worthwhile) and no source forced;
//      else in place.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

namespace veltrane {

struct EngineUnit;

enum class KeystreamSourceKind { InPlace, Kept, Ahead };

// The name VELTRANE_STREAM_SOURCE and the reports give the source.
const char* KeystreamSourceName(KeystreamSourceKind kind);
std::optional<KeystreamSourceKind> KeystreamSourceNamed(std::string_view name);
// The source VELTRANE_STREAM_SOURCE names, read once: none where it is unset or names no source.
std::optional<KeystreamSourceKind> KeystreamSourceForcedByEnvironment();

// What the last pass took its stream from (for tests and the benchmark).
struct KeystreamSourceFigures {
    std::array<std::int64_t, 3> Blocks{}; // the blocks each source gave, by KeystreamSourceKind
    // Of a second thread, where the pass had one (blocks from ahead): the blocks whose stream it made
    // in time, and whether the pass stopped it before the end, the thread missing most of them.
    std::int64_t FromThread = 0;
    bool FellBack = false;
};

class KeystreamSource {
public:
    virtual ~KeystreamSource() = default;
    virtual KeystreamSourceKind Kind() const = 0;
    // XORs the stream of the block at byte `position` of a file into `block`, each block following
    // the one before and all but a file's last BlockSize long: true; false, `block` untouched, where
    // this source has no more, for the pass to ask the rule again.
    virtual bool XorNext(std::span<std::uint8_t> block, std::int64_t position) = 0;
};

// The rule above: the source for the pass of `unit` at byte `position` (on a block boundary) that ends
// at byte `end`. `frontierTried` is the pass's own, false at its start: whether the rule has weighed a
// second thread at the end of what the prefix had made. The source may set unit.Generator going.
std::unique_ptr<KeystreamSource> PickKeystreamSource(EngineUnit& unit, std::int64_t position, std::int64_t end,
                                                     bool& frontierTried);

} // namespace veltrane
