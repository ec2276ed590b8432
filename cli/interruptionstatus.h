#pragma once
// `veltrane-cli status`: which files a killed or crashed command left part-way, as the files
// themselves tell, so that the user knows what to finish or undo with the same key.

#include "cli/tooloutput.h"

#include <string>
#include <vector>

namespace veltrane {

class InterruptionHints;

// Writes to `output` one line per FILE ("FILE: interrupted while encrypting (at 40%)", "FILE: not interrupted",
// "FILE: missing"), or with no FILE one line per file that the notes of earlier commands name and
// that is still part-way. Returns the exit status: 1 when any file was left part-way or is missing,
// 0 otherwise.
int ShowInterruptionStatus(const std::vector<std::string>& files, const InterruptionHints& hints, ToolOutput& output);

} // namespace veltrane
