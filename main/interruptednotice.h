#pragma once
// What the window tells the user at start-up about files that a killed or crashed run left
// part-way, so that they know which to load again to finish or undo.

#include "engine/recovery.h"

#include <QString>

#include <vector>

namespace veltrane {

// The status-line text naming the files left part-way (the first few by name and folder, the home
// folder written "~"), or an empty text when there are none.
QString InterruptedNotice(const std::vector<InterruptedFile>& files);

} // namespace veltrane
