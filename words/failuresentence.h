#pragma once
// The words both front ends use for a failed command: what failed, on which file, why, and how the
// file was left.

#include "engine/fileresult.h"

#include <string>

namespace veltrane {

// The whole sentence for a failed result, naming the file as `shownPath`: "Cannot write "x": no space
// left on device; the file was restored".
std::string FailureSentence(const FileResult& result, const std::string& shownPath);

} // namespace veltrane
