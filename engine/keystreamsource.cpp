#include "engine/keystreamsource.h"

#include "engine/aheadsource.h"
#include "engine/engineunit.h"
#include "engine/inplacesource.h"
#include "engine/keptsource.h"

#include <algorithm>
#include <cstdlib>
#include <string.h>

namespace veltrane {

namespace {

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
