#include "engine/keystreamsource.h"

#include "engine/engineunit.h"
#include "engine/keystream.h"
#include "engine/runkeystream.h"
#include "engine/streamahead.h"

#include <algorithm>
#include <cstdlib>
#include <string.h>

namespace veltrane {

namespace {

// The three sources as keystreamsource.h describes them, each going on from where the pass stands.
class InPlaceSource : public KeystreamSource {
public:
    explicit InPlaceSource(KeystreamGenerator& generator) : m_generator(generator) {}
    KeystreamSourceKind Kind() const override { return KeystreamSourceKind::InPlace; }
    bool XorNext(std::span<std::uint8_t> block, std::int64_t /*position*/) override {
        m_generator.XorBlock(block);
        return true;
    }

private:
    KeystreamGenerator& m_generator;
};

class KeptSource : public KeystreamSource {
public:
    // `stopAtFrontier`: it has no more where the pass reaches the end of what the prefix has made so
    // far, for the rule to weigh a second thread there.
    KeptSource(RunKeystream& run, bool stopAtFrontier) : m_run(run), m_stopAtFrontier(stopAtFrontier) {}
    KeystreamSourceKind Kind() const override { return KeystreamSourceKind::Kept; }
    bool XorNext(std::span<std::uint8_t> block, std::int64_t position) override {
        if (m_stopAtFrontier && static_cast<std::uint64_t>(position) == m_run.madeLength() &&
            static_cast<std::uint64_t>(position) < m_run.prefixLimit())
            return false;
        const std::span<const std::uint8_t> prefix = m_run.Prefix(position, block.size());
        if (prefix.empty())
            return false;
        XorBytes(block, prefix);
        return true;
    }

private:
    RunKeystream& m_run;
    bool m_stopAtFrontier;
};

class AheadSource : public KeystreamSource {
public:
    // The stream of the pass's `blocks` blocks (`length` bytes) from where unit.Generator stands. Each
    // whole block made where the pass is at the end of what `keepInto` (may be null) has made is kept
    // there. The unit's figures say what became of the thread once the source goes.
    AheadSource(EngineUnit& unit, std::int64_t blocks, std::int64_t length, RunKeystream* keepInto)
        : m_unit(unit), m_keepInto(keepInto) {
        const auto last = static_cast<std::size_t>(length - (blocks - 1) * static_cast<std::int64_t>(BlockSize));
        m_ahead = std::make_unique<StreamAhead>(unit.Generator, blocks, last, unit.StreamAheadHook);
    }
    ~AheadSource() override { m_unit.LastStreamSources.FromThread += m_ahead->blocksFromThread(); }
    KeystreamSourceKind Kind() const override { return KeystreamSourceKind::Ahead; }
    bool XorNext(std::span<std::uint8_t> block, std::int64_t position) override {
        std::span<const std::uint8_t> kept;
        if (m_keepInto && block.size() == BlockSize)
            kept = m_keepInto->Keep(
                position, [this](std::span<std::uint8_t> room) -> const KeystreamGenerator& { return Make(room); });
        if (!kept.empty())
            XorBytes(block, kept);
        else
            Make(block);
        return true;
    }

private:
    // XORs the stream of the next block into `block`, from the thread where it has it; the generator as
    // it stands after the block.
    const KeystreamGenerator& Make(std::span<std::uint8_t> block) {
        if (m_aheadLive && m_ahead->XorNext(block, m_unit.Generator))
            return m_ahead->nextGenerator();
        // Once the thread has fallen behind, the pass goes on alone from where it left off.
        m_unit.LastStreamSources.FellBack |= m_aheadLive;
        m_aheadLive = false;
        m_unit.Generator.XorBlock(block);
        return m_unit.Generator;
    }

    EngineUnit& m_unit;
    RunKeystream* m_keepInto;
    std::unique_ptr<StreamAhead> m_ahead; // made with new, for its secret memory
    bool m_aheadLive = true;
};

// By KeystreamSourceKind.
constexpr const char* Names[] = {"inplace", "kept", "ahead"};

// Sets `generator`, standing at byte `from` of the stream, going at byte `to` (both multiples of 256),
// in pieces of whole 256-step rounds into a buffer of its own: the pass may be handing out its own.
void SkipTo(KeystreamGenerator& generator, std::int64_t from, std::int64_t to) {
    std::array<std::uint8_t, 4096> skipped;
    for (std::int64_t at = from; at < to; at += static_cast<std::int64_t>(skipped.size()))
        generator.GenerateBlock(std::span(skipped).first(
            static_cast<std::size_t>(std::min<std::int64_t>(to - at, static_cast<std::int64_t>(skipped.size())))));
    ::explicit_bzero(skipped.data(), skipped.size());
}

} // namespace

const char* KeystreamSourceName(KeystreamSourceKind kind) {
    return Names[static_cast<std::size_t>(kind)];
}

std::optional<KeystreamSourceKind> KeystreamSourceNamed(std::string_view name) {
    const auto* found = std::find(std::begin(Names), std::end(Names), name);
    if (found == std::end(Names))
        return std::nullopt;
    return static_cast<KeystreamSourceKind>(found - std::begin(Names));
}

std::optional<KeystreamSourceKind> KeystreamSourceForcedByEnvironment() {
    static const std::optional<KeystreamSourceKind> forced = [] {
        const char* named = std::getenv("VELTRANE_STREAM_SOURCE");
        return named ? KeystreamSourceNamed(named) : std::nullopt;
    }();
    return forced;
}

std::string KeystreamSourceRuleInUse() {
    if (const auto forced = KeystreamSourceForcedByEnvironment())
        return std::string(KeystreamSourceName(*forced)) + " (named by VELTRANE_STREAM_SOURCE)";
    return "picked for each pass (VELTRANE_STREAM_SOURCE names none)";
}

std::unique_ptr<KeystreamSource> PickKeystreamSource(EngineUnit& unit, std::int64_t position, std::int64_t end,
                                                     bool& frontierTried) {
    RunKeystream& run = unit.KeystreamOfRun();
    const auto block = static_cast<std::int64_t>(BlockSize);
    const std::int64_t blocks = (std::max<std::int64_t>(end - position, 0) + block - 1) / block;
    const auto ahead = [&](RunKeystream* keepInto) {
        return std::make_unique<AheadSource>(unit, blocks, end - position, keepInto);
    };
    // 1, but for the kept stream, which follows 2 and 3 without a thread.
    if (unit.StreamSource && *unit.StreamSource != KeystreamSourceKind::Kept) {
        unit.Generator = run.Scheduled();
        SkipTo(unit.Generator, 0, position);
        if (*unit.StreamSource == KeystreamSourceKind::Ahead)
            return ahead(nullptr);
        return std::make_unique<InPlaceSource>(unit.Generator);
    }
    const auto threadWorthwhile = [&] {
        return !unit.StreamSource && blocks >= StreamAhead::MinimumBlocks && StreamAhead::Worthwhile();
    };
    const auto limit = static_cast<std::int64_t>(run.prefixLimit());
    // 2.
    if (position + block <= limit) {
        if (!frontierTried && static_cast<std::uint64_t>(position) == run.madeLength()) {
            frontierTried = true;
            if (threadWorthwhile() && run.FrontierAt(position, unit.Generator))
                return ahead(run.KeepsFromHere() ? &run : nullptr);
        }
        return std::make_unique<KeptSource>(run, !frontierTried);
    }
    // 3.
    unit.Generator = run.AfterPrefix();
    SkipTo(unit.Generator, limit, position);
    if (threadWorthwhile())
        return ahead(nullptr);
    return std::make_unique<InPlaceSource>(unit.Generator);
}

} // namespace veltrane
