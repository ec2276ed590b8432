#include "engine/standarddescriptors.h"

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace veltrane {

namespace {

bool IsOpen(int fd) {
    return ::fcntl(fd, F_GETFD) != -1 || errno != EBADF;
}

// Fills the closed descriptor `fd`: an open returns the lowest free number, and every number below
// `fd` is open by now.
bool Fill(int fd) {
    int filled = ::open("/dev/null", (fd == STDIN_FILENO ? O_RDONLY : O_WRONLY) | O_NOCTTY);
    if (filled < 0)
        filled = ::open("/", O_PATH | O_DIRECTORY);
    if (filled == fd)
        return true;
    if (filled >= 0)
        ::close(filled);
    return false;
}

} // namespace

bool OpenStandardDescriptors() noexcept {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (!IsOpen(fd) && !Fill(fd))
            return false;
    }
    return true;
}

} // namespace veltrane
