#pragma once
// `veltrane-cli status`: which files a killed or crashed command left part-way, as the progress
// records tell, so that the user knows what to finish or undo with the same key.

#include <string>
#include <vector>

namespace veltrane {

// Prints one line per FILE ("FILE: interrupted while encrypting (at 40%)", "FILE: not interrupted",
// "FILE: missing"), or with no FILE one line per file left part-way. Returns the exit status: 1 when
// any file was left part-way or is missing, 0 otherwise.
int ShowInterruptionStatus(const std::vector<std::string>& files);

} // namespace veltrane
