#pragma once
// Lets the engine's block pass drive the window's gauge: shown at the start of a pass, and given the
// figure after every block (the gauge repaints itself when the whole percentage changes). During a
// run it also lets the window system's own events through now and then (see RunEventPump).

#include "engine/progressdisplay.h"

namespace veltrane {

class RunEventPump;
class TGauge;

class GaugeProgressDisplay : public ProgressDisplay {
public:
    explicit GaugeProgressDisplay(TGauge& gauge) : m_gauge(gauge) {}

    void MakeVisible() override;
    void SetProgress(int figure) override;

    // The run's pump, or null outside a run.
    void setPump(RunEventPump* pump) { m_pump = pump; }

private:
    TGauge& m_gauge;
    RunEventPump* m_pump = nullptr;
};

} // namespace veltrane
