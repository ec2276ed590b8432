#pragma once
// Lets the engine's block pass drive the window's gauge: shown at the start of a pass, and given the
// figure after every block (the gauge repaints itself when the whole percentage changes).

#include "engine/progressdisplay.h"

namespace veltrane {

class TGauge;

class GaugeProgressDisplay : public ProgressDisplay {
public:
    explicit GaugeProgressDisplay(TGauge& gauge) : m_gauge(gauge) {}

    void MakeVisible() override;
    void SetProgress(int figure) override;

private:
    TGauge& m_gauge;
};

} // namespace veltrane
