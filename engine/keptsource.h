#pragma once
// The stream of a pass read from the run's kept stream, as far as its prefix reaches.

#include "engine/keystreamsource.h"
#include "engine/runkeystream.h"

namespace veltrane {

class KeptSource : public KeystreamSource {
public:
    // `stopAtFrontier`: it has no more where the pass reaches the end of what the prefix has made so
    // far, for the rule to weigh a second thread there.
    KeptSource(RunKeystream& run, bool stopAtFrontier) : m_run(run), m_stopAtFrontier(stopAtFrontier) {}
    KeystreamSourceKind Kind() const override { return KeystreamSourceKind::Kept; }
    bool XorNext(std::span<std::uint8_t> block, std::int64_t position) override;

private:
    RunKeystream& m_run;
    bool m_stopAtFrontier;
};

} // namespace veltrane
