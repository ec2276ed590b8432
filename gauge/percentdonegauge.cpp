#include "gauge/percentdonegauge.h"

#include "gauge/tgauge.h"
#include "resources/fonts.h"

namespace veltrane {

void ConfigurePercentDoneGauge(TGauge& gauge) {
    gauge.setKind(TGauge::gkPie);
    gauge.setBorderStyle(TGauge::bsNone);
    gauge.setForeColor(QColor(0xFF, 0x00, 0x00));
    gauge.setBackColor(Qt::black);
    gauge.setColor(Qt::black);
    // The designed font colour (blue) is never used: the figure is always drawn white and XOR-ed.
    gauge.setFont(CasualFont(12));
    gauge.setProgress(0);
    gauge.setVisible(false);
}

} // namespace veltrane
