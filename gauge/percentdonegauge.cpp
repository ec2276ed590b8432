#include "gauge/percentdonegauge.h"

#include "gauge/tgauge.h"
#include "resources/colours.h"
#include "resources/fonts.h"

namespace veltrane {

void ConfigurePercentDoneGauge(TGauge& gauge) {
    gauge.setKind(TGauge::gkPie);
    gauge.setBorderStyle(TGauge::bsNone);
    gauge.setForeColor(colours::Red);
    gauge.setBackColor(colours::Black);
    gauge.setColor(colours::Black);
    // The designed font colour (blue) is never used: the figure is always drawn white and XOR-ed.
    gauge.setFont(CasualFont(12));
    gauge.setProgress(0);
    gauge.setVisible(false);
}

} // namespace veltrane
