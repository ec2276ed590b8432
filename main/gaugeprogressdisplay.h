#pragma once
// Lets a file's command drive the window's gauge: shown at the start of a pass, and given the figure
// after every block (the gauge repaints itself when the whole percentage changes); once the pass is
// through, the window's own step runs. During a run it also lets the window system's own events
// through now and then (see RunEventPump).

#include "engine/progressdisplay.h"
#include "gauge/tgauge.h"
#include "main/runeventpump.h"

#include <functional>
#include <utility>

namespace veltrane {

class GaugeProgressDisplay : public ProgressDisplay {
public:
    explicit GaugeProgressDisplay(TGauge& gauge) : m_gauge(gauge) {}

    void MakeVisible() override { m_gauge.setVisible(true); }
    void SetProgress(int figure) override {
        m_gauge.setProgress(figure);
        if (m_pump != nullptr)
            m_pump->Pump();
    }
    void PassDone() override { m_passDone(); }

    // What the window does once a pass is through, before the trailer is written or cut.
    void setPassDone(std::function<void()> step) { m_passDone = std::move(step); }

    // The run's pump, or null outside a run.
    void setPump(RunEventPump* pump) { m_pump = pump; }

private:
    TGauge& m_gauge;
    RunEventPump* m_pump = nullptr;
    std::function<void()> m_passDone = [] {};
};

} // namespace veltrane
