#include "engine/fileexists.h"

#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>

namespace veltrane {

namespace {

bool ExistsAsFound(const struct stat& status) {
    if (!S_ISREG(status.st_mode))
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

} // namespace

bool FileExists(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && ExistsAsFound(status);
}

bool FileExists(const FolderDescriptor& folder, const std::string& name) {
    struct stat status {};
    return ::fstatat(folder.fd(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && ExistsAsFound(status);
}

} // namespace veltrane
