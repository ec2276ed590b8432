#include "engine/fileexists.h"

#include <ctime>

#include <sys/stat.h>

namespace veltrane {

bool FileExists(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return false;
    // A file dated outside the years 1980 to 2107 counts as missing: the format's home platform
    // cannot date a file outside them, and a list must skip the same files wherever it runs.
    const std::time_t modified = status.st_mtime;
    std::tm local{};
    if (::localtime_r(&modified, &local) == nullptr)
        return false;
    const int year = local.tm_year + 1900;
    return year >= 1980 && year <= 2107;
}

} // namespace veltrane
