#include "engine/blockpass.h"

#include "engine/zonedpass.h"

#include <climits>
#include <cmath>

namespace veltrane {

int ProgressFigure(std::int64_t blockCount, std::int64_t fileLength) {
    // Nothing to transform counts as done.
    if (fileLength <= 0)
        return 100;
    const double figure = static_cast<double>(blockCount * static_cast<std::int64_t>(BlockSize)) /
                          static_cast<double>(fileLength) * 100.0;
    // Exact halves go to the even neighbour, independent of the floating-point rounding mode.
    double whole = std::floor(figure);
    const double fraction = figure - whole;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0))
        whole += 1.0;
    return whole >= static_cast<double>(INT_MAX) ? INT_MAX : static_cast<int>(whole);
}

bool RunBlockPass(EngineUnit& unit, ProgressDisplay* display) {
    CurrentFileHandle& file = unit.CurrentFile;
    if (!file.isOpen())
        return false;
    if (display)
        display->MakeVisible();
    const PartwayState& state = unit.Partway;
    unit.FileLength = state.Body;
    unit.BlockCount = state.High / static_cast<std::int64_t>(BlockSize);
    unit.WrittenEnd = state.High;
    file.CheckUnchanged(true);
    TransformZones(unit, state.High, state.Body, display);
    if (state.Body == 0) {
        unit.BlockCount = 1;
        if (display)
            display->SetProgress(ProgressFigure(unit.BlockCount, unit.FileLength));
    }
    file.Remember();
    return true;
}

} // namespace veltrane
