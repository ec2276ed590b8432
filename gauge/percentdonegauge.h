#pragma once
// The main window's gauge: a red pie on black with its figure in the casual face, hidden at 0.
// Placement (113 x 105 at 16, 0 in the bottom panel) belongs to the window's layout.

namespace veltrane {

class TGauge;

void ConfigurePercentDoneGauge(TGauge& gauge);

} // namespace veltrane
