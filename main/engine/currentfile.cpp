#include "main/engine/currentfile.h"

#include "main/engine/engineerror.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace veltrane {

CurrentFileHandle::~CurrentFileHandle() {
    Close();
}

void CurrentFileHandle::Bind(std::string path) {
    Close();
    Path = std::move(path);
    HaveIdentity = false;
}

bool CurrentFileHandle::Open() {
    Close();
    OpenErrorText.clear();

    // O_NONBLOCK keeps a FIFO or device that slipped past the existence test from hanging the open;
    // the checks below refuse it before any I/O.
    const int fd = ::open(Path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        OpenErrorText = std::strerror(errno);
        return false;
    }
    auto refuse = [&](const char* why) {
        OpenErrorText = why;
        ::close(fd);
        return false;
    };

    struct stat status {};
    if (::fstat(fd, &status) != 0)
        return refuse(std::strerror(errno));
    if (!S_ISREG(status.st_mode))
        return refuse("not a regular file");
    // Root may open a file without write permission; the owner-write bit is our read-only attribute.
    if ((status.st_mode & S_IWUSR) == 0)
        return refuse("the file is read-only");
    if (HaveIdentity && (status.st_dev != Device || status.st_ino != Inode))
        return refuse("the file was replaced by another");
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
        return refuse(std::strerror(errno));
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        return refuse(errno == EWOULDBLOCK ? "the file is in use by another program" : std::strerror(errno));
    }

    Fd = fd;
    if (!HaveIdentity) {
        HaveIdentity = true;
        Device = status.st_dev;
        Inode = status.st_ino;
    }
    return true;
}

void CurrentFileHandle::Close() noexcept {
    if (Fd >= 0) {
        // Closing the last descriptor of the open file also releases the lock.
        ::close(Fd);
        Fd = -1;
    }
}

void CurrentFileHandle::Fail(const char* action, int error) const {
    const std::string reason = std::strerror(error);
    throw EngineError(std::string("Cannot ") + action + " \"" + Path + "\": " + reason, reason);
}

int CurrentFileHandle::Injected(FileOperation operation, std::size_t& count) const {
    if (!Hook)
        return 0;
    return Hook(operation, Position(), count);
}

std::int64_t CurrentFileHandle::Size() const {
    struct stat status {};
    if (::fstat(Fd, &status) != 0)
        Fail("get the size of", errno);
    return status.st_size;
}

void CurrentFileHandle::SeekTo(std::int64_t offset) {
    if (::lseek(Fd, static_cast<off_t>(offset), SEEK_SET) < 0)
        Fail("move within", errno);
}

std::int64_t CurrentFileHandle::SeekToEnd() {
    const off_t end = ::lseek(Fd, 0, SEEK_END);
    if (end < 0)
        Fail("move within", errno);
    return end;
}

std::int64_t CurrentFileHandle::Position() const {
    const off_t position = ::lseek(Fd, 0, SEEK_CUR);
    if (position < 0)
        Fail("move within", errno);
    return position;
}

std::size_t CurrentFileHandle::Read(std::span<std::uint8_t> buffer) {
    std::size_t total = 0;
    while (total < buffer.size()) {
        std::size_t count = buffer.size() - total;
        if (const int injected = Injected(FileOperation::Read, count))
            Fail("read", injected);
        const ssize_t got = ::read(Fd, buffer.data() + total, count);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            Fail("read", errno);
        }
        if (got == 0)
            break;
        total += static_cast<std::size_t>(got);
    }
    return total;
}

void CurrentFileHandle::Write(std::span<const std::uint8_t> data, std::size_t* written) {
    std::size_t total = 0;
    if (written)
        *written = 0;
    while (total < data.size()) {
        std::size_t count = data.size() - total;
        if (const int injected = Injected(FileOperation::Write, count))
            Fail("write", injected);
        const ssize_t put = ::write(Fd, data.data() + total, count);
        if (put < 0) {
            if (errno == EINTR)
                continue;
            Fail("write", errno);
        }
        if (put == 0)
            Fail("write", EIO);
        total += static_cast<std::size_t>(put);
        if (written)
            *written = total;
    }
}

void CurrentFileHandle::Truncate(std::int64_t length) {
    std::size_t newLength = static_cast<std::size_t>(length);
    if (const int injected = Injected(FileOperation::Truncate, newLength))
        Fail("truncate", injected);
    while (::ftruncate(Fd, static_cast<off_t>(length)) != 0) {
        if (errno != EINTR)
            Fail("truncate", errno);
    }
}

bool CurrentFileHandle::ReserveAfterEnd(std::int64_t length, std::string& reason) {
    const std::int64_t size = Size();

    // A file-size limit would let the reservation succeed and the append fail, so check it here.
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        static_cast<rlim_t>(size + length) > limit.rlim_cur) {
        reason = std::strerror(EFBIG);
        return false;
    }

    while (::fallocate(Fd, FALLOC_FL_KEEP_SIZE, static_cast<off_t>(size), static_cast<off_t>(length)) != 0) {
        if (errno == EINTR)
            continue;
        // Not every file system can reserve space; there a failing append is undone instead.
        if (errno == EOPNOTSUPP || errno == ENOSYS)
            return true;
        reason = std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace veltrane
