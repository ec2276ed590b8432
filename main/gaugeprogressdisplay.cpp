#include "main/gaugeprogressdisplay.h"

#include "gauge/tgauge.h"
#include "main/runeventpump.h"

namespace veltrane {

void GaugeProgressDisplay::MakeVisible() {
    m_gauge.setVisible(true);
}

void GaugeProgressDisplay::SetProgress(int figure) {
    m_gauge.setProgress(figure);
    if (m_pump != nullptr)
        m_pump->Pump();
}

void GaugeProgressDisplay::PassDone() {
    if (m_passDone)
        m_passDone();
}

} // namespace veltrane
