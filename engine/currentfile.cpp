#include "engine/currentfile.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <linux/openat2.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace veltrane {

namespace {

// The system's words for an error, in lower case so that they read well inside a sentence.
std::string ReasonFor(int error) {
    std::string reason = std::strerror(error);
    if (!reason.empty())
        reason[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(reason[0])));
    return reason;
}

// File systems whose files only look like files: kernel settings, counters and control points.
// Writing one changes the system, not a document, so none is ever encrypted.
const char* PseudoFileSystem(const struct statfs& system) {
    struct Known {
        unsigned long Magic;
        const char* Name;
    };
    static constexpr Known known[] = {
        {PROC_SUPER_MAGIC, "procfs"},     {SYSFS_MAGIC, "sysfs"},
        {DEBUGFS_MAGIC, "debugfs"},       {TRACEFS_MAGIC, "tracefs"},
        {SECURITYFS_MAGIC, "securityfs"}, {SELINUX_MAGIC, "selinuxfs"},
        {SMACK_MAGIC, "smackfs"},         {CGROUP_SUPER_MAGIC, "cgroup"},
        {CGROUP2_SUPER_MAGIC, "cgroup2"}, {PSTOREFS_MAGIC, "pstore"},
        {EFIVARFS_MAGIC, "efivarfs"},     {BPF_FS_MAGIC, "bpf"},
        {BINFMTFS_MAGIC, "binfmt_misc"},  {NSFS_MAGIC, "nsfs"},
        {HUGETLBFS_MAGIC, "hugetlbfs"},   {DEVPTS_SUPER_MAGIC, "devpts"},
        {AUTOFS_SUPER_MAGIC, "autofs"},   {0x62656570UL, "configfs"},
        {0x65735543UL, "fusectl"},        {0x19800202UL, "mqueue"},
        {0x67596969UL, "rpc_pipefs"},
    };
    const auto magic = static_cast<unsigned long>(static_cast<unsigned int>(system.f_type));
    for (const Known& entry : known)
        if (entry.Magic == magic)
            return entry.Name;
    return nullptr;
}

// A description of its own, for reading, of the file that descriptor `fd` names; -1 where there is
// none to be had (no /proc, no descriptor to spare, no right to read it).
int ReopenForReading(int fd) noexcept {
    std::array<char, 32> self{};
    std::snprintf(self.data(), self.size(), "/proc/self/fd/%d", fd);
    return ::open(self.data(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
}

// Why an open for writing was refused with EPERM: usually an attribute that even root must clear first.
// `where` is a descriptor of the file that was looked at.
std::string WhyNotPermitted(int where) {
    const int fd = ReopenForReading(where);
    if (fd < 0)
        return ReasonFor(EPERM);
    int flags = 0;
    const bool known = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    ::close(fd);
    if (known && (flags & FS_IMMUTABLE_FL))
        return "the file is immutable";
    if (known && (flags & FS_APPEND_FL))
        return "the file is append-only";
    return ReasonFor(EPERM);
}

// `where`, when not -1, is a descriptor of the file that was looked at before the open failed.
std::string WhyNotOpened(int where, int error) {
    switch (error) {
    case EPERM:
        return where >= 0 ? WhyNotPermitted(where) : ReasonFor(EPERM);
    case ETXTBSY:
        return "the file is a running program";
    default:
        return ReasonFor(error);
    }
}

// Gives back the room of [offset, offset + length) without changing the size.
void PunchHole(int fd, std::int64_t offset, std::int64_t length) noexcept {
    while (::fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(offset),
                       static_cast<off_t>(length)) != 0 &&
           errno == EINTR) {
    }
}

bool SameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// An O_PATH descriptor of `name` in the open folder `folder`, following no symbolic link: openat2 keeps
// the lookup to the name itself; where the kernel lacks it (or a filter refuses it), O_NOFOLLOW does,
// which with O_PATH opens a link itself, so a link found that way is refused after the fact. ELOOP for
// a link, EINVAL for anything but a single name.
int LookUpInFolder(int folder, const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
        errno = EINVAL;
        return -1;
    }
    open_how how{};
    how.flags = O_PATH | O_CLOEXEC;
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_BENEATH;
    const long found = ::syscall(SYS_openat2, folder, name.c_str(), &how, sizeof how);
    if (found >= 0 || (errno != ENOSYS && errno != EPERM))
        return static_cast<int>(found);
    const int fd = ::openat(folder, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    struct stat status {};
    if (fd >= 0 && ::fstat(fd, &status) == 0 && S_ISLNK(status.st_mode)) {
        ::close(fd);
        errno = ELOOP;
        return -1;
    }
    return fd;
}

} // namespace

CurrentFileHandle::~CurrentFileHandle() {
    Close();
}

void CurrentFileHandle::Bind(std::string path) {
    Close();
    m_path = std::move(path);
    m_entry = {};
}

void CurrentFileHandle::Bind(FolderEntry entry, std::string path) {
    Close();
    m_path = std::move(path);
    m_entry = std::move(entry);
}

int CurrentFileHandle::LookUp() {
    if (!m_entry.Folder) {
        const int where = ::open(m_path.c_str(), O_PATH | O_CLOEXEC);
        if (where < 0)
            m_openError = WhyNotOpened(-1, errno);
        return where;
    }
    const int where = LookUpInFolder(m_entry.Folder->fd(), m_entry.Name);
    if (where < 0)
        m_openError = errno == ELOOP ? "it is a symbolic link" : WhyNotOpened(-1, errno);
    return where;
}

bool CurrentFileHandle::Open() {
    Close();
    m_openError.clear();

    // The entry is looked at before it is opened: opening a device, a FIFO or a kernel setting for
    // writing can itself do something (wake a driver, block), so only an ordinary file of an ordinary
    // file system is ever opened for writing, and it is the very file that was looked at.
    const int where = LookUp();
    if (where < 0)
        return false;
    struct stat status {};
    struct statfs system {};
    std::string refused;
    if (::fstat(where, &status) != 0 || ::fstatfs(where, &system) != 0)
        refused = ReasonFor(errno);
    else if (m_entry.Folder && m_entry.Inode != 0 &&
             (status.st_dev != m_entry.Device || status.st_ino != m_entry.Inode))
        refused = "it was replaced after its folder was read";
    else if (S_ISDIR(status.st_mode))
        refused = ReasonFor(EISDIR);
    else if (!S_ISREG(status.st_mode))
        refused = "not a regular file";
    else if (const char* pseudo = PseudoFileSystem(system))
        refused = std::string("on a pseudo file system (") + pseudo + ")";
    // Root may open a file without write permission; the owner-write bit is our read-only attribute.
    else if ((status.st_mode & S_IWUSR) == 0)
        refused = "the file is read-only";
    if (!refused.empty()) {
        ::close(where);
        m_openError = std::move(refused);
        return false;
    }
    // Through the descriptor of what was looked at, not the name, which may lead elsewhere by now;
    // without /proc, by the name, and then only if it still leads to the same file.
    const std::string self = "/proc/self/fd/" + std::to_string(where);
    constexpr int ForWriting = O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    int fd = ::open(self.c_str(), ForWriting);
    if (fd < 0 && (errno == ENOENT || errno == ENOTDIR))
        fd = m_entry.Folder ? ::openat(m_entry.Folder->fd(), m_entry.Name.c_str(), ForWriting | O_NOFOLLOW)
                            : ::open(m_path.c_str(), ForWriting);
    if (fd < 0)
        m_openError = WhyNotOpened(where, errno);
    ::close(where);
    if (fd < 0)
        return false;
    auto refuse = [&](std::string why) {
        m_openError = std::move(why);
        ::close(fd);
        return false;
    };
    struct stat opened {};
    if (::fstat(fd, &opened) != 0)
        return refuse(ReasonFor(errno));
    if (opened.st_dev != status.st_dev || opened.st_ino != status.st_ino)
        return refuse("the file was replaced while it was being opened");
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
        return refuse(ReasonFor(errno));
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        return refuse(errno == EWOULDBLOCK ? "in use by another program" : ReasonFor(errno));
    }
    // What the file is can only be told once it is locked: a holder that let go just before may have
    // changed it, so take its size and times again.
    struct statx now {};
    if (::statx(fd, "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &now) != 0)
        return refuse(ReasonFor(errno));

    m_fd = fd;
    m_offset = 0;
    m_device = makedev(now.stx_dev_major, now.stx_dev_minor);
    m_inode = now.stx_ino;
    m_expectedSize = static_cast<std::int64_t>(now.stx_size);
    m_modified = {static_cast<time_t>(now.stx_mtime.tv_sec), static_cast<long>(now.stx_mtime.tv_nsec)};
    m_birth = (now.stx_mask & STATX_BTIME)
                  ? timespec{static_cast<time_t>(now.stx_btime.tv_sec), static_cast<long>(now.stx_btime.tv_nsec)}
                  : timespec{-1, 0};
    return true;
}

void CurrentFileHandle::Close() noexcept {
    WaitForWriteback();
    if (m_writebackFd >= 0)
        ::close(m_writebackFd);
    m_writebackFd = -1;
    m_allowGrowth = false;
    if (m_fd >= 0) {
        // Closing the last descriptor of the open file also releases the lock.
        ::close(m_fd);
        m_fd = -1;
    }
}

void CurrentFileHandle::Fail(FailedOperation operation, int error) const {
    throw EngineError({.Operation = operation, .Path = m_path, .Errno = error, .Reason = ReasonFor(error)});
}

void CurrentFileHandle::ReportChange(FileChange change, const std::string& how) const {
    throw EngineError({.Cause = FailureCause::Changed,
                       .Operation = FailedOperation::GoOn,
                       .Path = m_path,
                       .Reason = how,
                       .Change = change});
}

int CurrentFileHandle::Injected(FileOperation operation, std::size_t& count) const {
    return m_hook ? m_hook(operation, m_offset, count) : 0;
}

void CurrentFileHandle::Log(FileOperation operation, std::int64_t offset, std::int64_t length,
                            std::span<const std::uint8_t> bytes) const {
    if (m_log)
        m_log(FileEvent{operation, offset, length, bytes});
}

std::int64_t CurrentFileHandle::Size() const {
    struct stat status {};
    if (::fstat(m_fd, &status) != 0)
        Fail(FailedOperation::GetSize, errno);
    return status.st_size;
}

// The handle keeps its own position and reads and writes at it (pread, pwrite): one call a block
// rather than a seek and a transfer.
void CurrentFileHandle::SeekTo(std::int64_t offset) {
    if (offset < 0)
        Fail(FailedOperation::Seek, EINVAL);
    m_offset = offset;
}

std::int64_t CurrentFileHandle::SeekToEnd() {
    const off_t end = ::lseek(m_fd, 0, SEEK_END);
    if (end < 0)
        Fail(FailedOperation::Seek, errno);
    m_offset = end;
    return end;
}

template <typename Step>
std::size_t CurrentFileHandle::Transfer(FileOperation operation, std::size_t size, Step step, std::size_t* done) {
    const bool reading = operation == FileOperation::Read;
    const FailedOperation action = reading ? FailedOperation::Read : FailedOperation::Write;
    std::size_t total = 0;
    if (done)
        *done = 0;
    while (total < size) {
        std::size_t count = size - total;
        if (const int injected = Injected(operation, count))
            Fail(action, injected);
        const ssize_t moved = step(total, count);
        if (moved < 0) {
            if (errno == EINTR)
                continue;
            Fail(action, errno);
        }
        if (moved == 0) {
            // The end of the file ends a read; a write that takes nothing would never finish.
            if (reading)
                break;
            Fail(action, EIO);
        }
        total += static_cast<std::size_t>(moved);
        m_offset += moved;
        if (!reading)
            m_expectedSize = std::max(m_expectedSize, m_offset);
        if (done)
            *done = total;
    }
    return total;
}

std::size_t CurrentFileHandle::Read(std::span<std::uint8_t> buffer) {
    return Transfer(FileOperation::Read, buffer.size(), [&](std::size_t total, std::size_t count) {
        return ::pread(m_fd, buffer.data() + total, count, static_cast<off_t>(m_offset));
    });
}

void CurrentFileHandle::Write(std::span<const std::uint8_t> data, std::size_t* written) {
    Transfer(
        FileOperation::Write, data.size(),
        [&](std::size_t total, std::size_t count) {
            const std::int64_t at = m_offset;
            const ssize_t moved = ::pwrite(m_fd, data.data() + total, count, static_cast<off_t>(at));
            if (moved > 0)
                Log(FileOperation::Write, at, moved, data.subspan(total, static_cast<std::size_t>(moved)));
            return moved;
        },
        written);
}

std::size_t CurrentFileHandle::ReadAt(std::int64_t offset, std::span<std::uint8_t> buffer) {
    SeekTo(offset);
    return Read(buffer);
}

void CurrentFileHandle::WriteAt(std::int64_t offset, std::span<const std::uint8_t> data) {
    SeekTo(offset);
    Write(data);
}

void CurrentFileHandle::Sync() {
    WaitForWriteback();
    std::size_t none = 0;
    if (const int injected = Injected(FileOperation::Sync, none))
        Fail(FailedOperation::Sync, injected);
    while (::fdatasync(m_fd) != 0) {
        if (errno != EINTR)
            Fail(FailedOperation::Sync, errno);
    }
    Log(FileOperation::Sync, 0, 0);
}

void CurrentFileHandle::StartWriteback(std::int64_t offset, std::int64_t length) noexcept {
    // Only a hint to the system; where it is not supported the next Sync does all the work.
    ::sync_file_range(m_fd, static_cast<off_t>(offset), static_cast<off_t>(length), SYNC_FILE_RANGE_WRITE);
    // Writing to the disk is not all of a sync: a disk with a cache of its own (a virtual machine's
    // above all) writes that cache only when the sync asks it to flush, so the sync is started here
    // and waited for by the next Sync. Through a description of its own, so that an error it meets
    // is still reported to this handle's next Sync. Without a thread or a descriptor to spare, the
    // next Sync does it all.
    WaitForWriteback();
    if (m_writebackFd < 0) {
        m_writebackFd = ReopenForReading(m_fd);
        struct stat opened {};
        if (m_writebackFd >= 0 && (::fstat(m_writebackFd, &opened) != 0 || opened.st_dev != m_device ||
                                   opened.st_ino != m_inode)) {
            ::close(m_writebackFd);
            m_writebackFd = -1;
        }
    }
    if (m_writebackFd < 0)
        return;
    try {
        m_writeback = std::thread([fd = m_writebackFd] { ::fdatasync(fd); });
    } catch (...) {
    }
}

void CurrentFileHandle::WaitForWriteback() noexcept {
    if (m_writeback.joinable())
        m_writeback.join();
}

void CurrentFileHandle::Truncate(std::int64_t length) {
    std::size_t newLength = static_cast<std::size_t>(length);
    if (const int injected = Injected(FileOperation::Truncate, newLength))
        Fail(FailedOperation::Truncate, injected);
    while (::ftruncate(m_fd, static_cast<off_t>(length)) != 0) {
        if (errno != EINTR)
            Fail(FailedOperation::Truncate, errno);
    }
    m_expectedSize = length;
    Log(FileOperation::Truncate, 0, length);
}

bool CurrentFileHandle::ReserveAfterEnd(std::int64_t length, std::string& reason) {
    // A file-size limit would let the reservation succeed and the append fail, so check it here.
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        static_cast<rlim_t>(m_expectedSize + length) > limit.rlim_cur) {
        reason = ReasonFor(EFBIG);
        return false;
    }
    return Reserve(m_expectedSize, length, reason);
}

void CurrentFileHandle::ReleaseAfterEnd(std::int64_t length) noexcept {
    // ext4 and XFS drop blocks reserved past the end when the file is cut to its own length; tmpfs
    // keeps them until they are punched out. Either way the size does not change.
    while (::ftruncate(m_fd, static_cast<off_t>(m_expectedSize)) != 0 && errno == EINTR) {
    }
    PunchHole(m_fd, m_expectedSize, length);
}

std::vector<FileRange> CurrentFileHandle::FindHoles() {
    // Keeps the record of a pathological file (millions of holes) to a sensible size; holes past
    // the last one kept are written back as zeros by an undo, which loses no data.
    constexpr std::size_t MostHoles = 65536;
    std::vector<FileRange> holes;
    const std::int64_t size = m_expectedSize;
    std::int64_t at = 0;
    while (at < size && holes.size() < MostHoles) {
        const off_t hole = ::lseek(m_fd, static_cast<off_t>(at), SEEK_HOLE);
        if (hole < 0 || hole >= size)
            break;
        const off_t data = ::lseek(m_fd, hole, SEEK_DATA);
        const std::int64_t end = data < 0 ? size : std::min<std::int64_t>(data, size);
        holes.push_back({hole, end - hole});
        at = end;
    }
    return holes;
}

bool CurrentFileHandle::Allocate(const std::vector<FileRange>& ranges, std::string& reason) {
    return std::all_of(ranges.begin(), ranges.end(),
                       [&](const FileRange& range) { return Reserve(range.Offset, range.Length, reason); });
}

bool CurrentFileHandle::Reserve(std::int64_t offset, std::int64_t length, std::string& reason) {
    std::size_t count = static_cast<std::size_t>(length);
    if (const int injected = Injected(FileOperation::Reserve, count)) {
        reason = ReasonFor(injected);
        return false;
    }
    Log(FileOperation::Reserve, offset, length);
    while (::fallocate(m_fd, FALLOC_FL_KEEP_SIZE, static_cast<off_t>(offset), static_cast<off_t>(length)) != 0) {
        if (errno == EINTR)
            continue;
        // Not every file system can reserve space; there a failing step is undone instead.
        if (errno == EOPNOTSUPP || errno == ENOSYS)
            return true;
        reason = ReasonFor(errno);
        return false;
    }
    return true;
}

void CurrentFileHandle::Deallocate(const std::vector<FileRange>& ranges) noexcept {
    for (const FileRange& range : ranges)
        PunchHole(m_fd, range.Offset, range.Length);
}

timespec CurrentFileHandle::CheckUnchanged(bool thorough) {
    struct stat status {};
    if (::fstat(m_fd, &status) != 0)
        Fail(FailedOperation::GetState, errno);
    if (status.st_nlink == 0)
        ReportChange(FileChange::Deleted, "another program deleted the file");
    if (m_allowGrowth && status.st_size > m_expectedSize) {
        // Another program's addition; nothing of this handle's lies past its old end.
        m_expectedSize = status.st_size;
    }
    if (status.st_size != m_expectedSize) {
        const bool shorter = status.st_size < m_expectedSize;
        ReportChange(shorter ? FileChange::Shorter : FileChange::Longer,
                     std::string("another program made the file ") + (shorter ? "shorter" : "longer") + " (from " +
                         std::to_string(m_expectedSize) + " to " + std::to_string(status.st_size) + " bytes)");
    }
    // Every write moves the modification time, so a time this handle's own steps did not leave is
    // another program's write (unless it came within the same tick of the file system's clock as
    // this handle's last one). The change time is not compared: renaming, linking and permission
    // changes move it too without touching a byte.
    if (m_allowGrowth)
        m_modified = status.st_mtim;
    if (!SameTime(status.st_mtim, m_modified))
        ReportChange(FileChange::Rewritten, "another program wrote to the file");
    if (!thorough)
        return status.st_mtim;
    // By the name in the folder that was read where there is one: the path may lead elsewhere by now,
    // through a link swapped in on the way, or be too long to look up at all.
    struct stat named {};
    const int found = m_entry.Folder
                          ? ::fstatat(m_entry.Folder->fd(), m_entry.Name.c_str(), &named, AT_SYMLINK_NOFOLLOW)
                          : ::stat(m_path.c_str(), &named);
    if (found != 0)
        ReportChange(FileChange::Renamed, "another program renamed or moved the file");
    if (named.st_dev != m_device || named.st_ino != m_inode)
        ReportChange(FileChange::Replaced, "another program replaced the file with another one");
    return status.st_mtim;
}

void CurrentFileHandle::Remember() {
    struct stat status {};
    if (::fstat(m_fd, &status) != 0)
        Fail(FailedOperation::GetState, errno);
    m_modified = status.st_mtim;
}

} // namespace veltrane

namespace veltrane {

void CurrentFileHandle::AcceptSize() {
    struct stat status {};
    if (::fstat(m_fd, &status) != 0)
        Fail(FailedOperation::GetState, errno);
    m_expectedSize = status.st_size;
    m_modified = status.st_mtim;
}

} // namespace veltrane
