#pragma once
// The run's existence test: the path names a regular file (links followed) whose modification
// time, in local time, falls in the years 1980 to 2107. Folders, devices, pipes and sockets count
// as missing.

#include "engine/folderdescriptor.h"

#include <string>

namespace veltrane {

bool FileExists(const std::string& path);
// The same for a name inside an open folder, where a symbolic link is not followed (and so counts as
// missing) and the length of the folder's path does not matter.
bool FileExists(const FolderDescriptor& folder, const std::string& name);

} // namespace veltrane
