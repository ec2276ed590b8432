#include "main/engine/fileexists.h"

#include <ctime>

#include <sys/stat.h>

namespace veltrane {

bool FileExists(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return false;
    // Files dated outside the years that the original existence test could represent count as
    // missing, as they always have.
    const std::time_t modified = status.st_mtime;
    std::tm local{};
    if (::localtime_r(&modified, &local) == nullptr)
        return false;
    const int year = local.tm_year + 1900;
    return year >= 1980 && year <= 2107;
}

} // namespace veltrane
