#include "main/gaugeprogressdisplay.h"

#include "gauge/tgauge.h"

namespace veltrane {

void GaugeProgressDisplay::MakeVisible() {
    m_gauge.setVisible(true);
}

void GaugeProgressDisplay::SetProgress(int figure) {
    m_gauge.setProgress(figure);
}

} // namespace veltrane
