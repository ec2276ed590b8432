#pragma once
// The run's existence test: the path names a regular file (links followed) whose modification
// time, in local time, falls in the years 1980 to 2107. Folders, devices, pipes and sockets count
// as missing.

#include <string>

namespace veltrane {

bool FileExists(const std::string& path);

} // namespace veltrane
