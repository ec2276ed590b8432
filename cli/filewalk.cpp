#include "cli/filewalk.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace veltrane {

namespace {

// The system's reason in the lower-case words of the tool's other reasons.
std::string Reason(int error) {
    std::string reason = std::strerror(error);
    if (reason.size() > 1 && std::isupper(static_cast<unsigned char>(reason[0])) &&
        std::islower(static_cast<unsigned char>(reason[1])))
        reason[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(reason[0])));
    return reason;
}

std::string CannotReadFolder(int error) {
    return "skipped: cannot read the folder (" + Reason(error) + ")";
}

std::string Joined(const std::string& folder, const std::string& name) {
    return folder.ends_with('/') ? folder + name : folder + '/' + name;
}

void Identify(BatchEntry& entry, const struct stat& status) {
    entry.Known = true;
    entry.Device = status.st_dev;
    entry.Inode = status.st_ino;
}

} // namespace

bool FileWalk::Next(BatchEntry& entry) {
    for (;;) {
        entry = BatchEntry{};
        if (!m_folders.empty()) {
            if (NextInFolder(entry))
                return true;
            continue;
        }
        if (m_nextArgument == m_arguments.size())
            return false;
        entry.Path = m_arguments[m_nextArgument++];
        struct stat status {};
        if (::stat(entry.Path.c_str(), &status) != 0)
            return true; // the existence test reports it
        Identify(entry, status);
        if (!S_ISDIR(status.st_mode))
            return true;
        if (!m_recursive) {
            entry.Verdict = "skipped: is a folder";
            return true;
        }
        const int fd = ::open(entry.Path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            entry.Verdict = CannotReadFolder(errno);
            return true;
        }
        if (!Enter(fd, entry.Path, entry))
            return true;
    }
}

// One name of the innermost folder, or its end (false: the caller goes on with what is left).
bool FileWalk::NextInFolder(BatchEntry& entry) {
    Folder& folder = m_folders.back();
    if (folder.NextName == folder.Names.size()) {
        m_folders.pop_back();
        return false;
    }
    const std::string& name = folder.Names[folder.NextName++];
    entry.Path = Joined(folder.Path, name);
    entry.Folder = folder.Descriptor;
    entry.Name = name;
    struct stat status {};
    const int folderFd = folder.Descriptor->fd();
    if (::fstatat(folderFd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        entry.Verdict = errno == ENOENT ? "missing" : "skipped: cannot be opened (" + Reason(errno) + ")";
        return true;
    }
    Identify(entry, status);
    if (m_looked)
        m_looked(entry);
    if (S_ISLNK(status.st_mode)) {
        entry.Verdict = "skipped: is a symbolic link";
        return true;
    }
    if (S_ISREG(status.st_mode))
        return true;
    if (!S_ISDIR(status.st_mode)) {
        entry.Verdict = "skipped: not a regular file";
        return true;
    }
    // O_NOFOLLOW: a folder swapped for a link since it was looked at is not followed either (the
    // open fails with ELOOP, or with ENOTDIR where O_DIRECTORY is looked at first).
    const int fd = ::openat(folderFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        const bool link =
            ::fstatat(folderFd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(status.st_mode);
        entry.Verdict = error == ELOOP || link ? "skipped: is a symbolic link" : CannotReadFolder(error);
        return true;
    }
    // A folder yields no line of its own, only its files do.
    return !Enter(fd, entry.Path, entry);
}

bool FileWalk::Enter(int fd, const std::string& path, BatchEntry& entry) {
    const auto refuse = [&](std::string verdict) {
        entry.Verdict = std::move(verdict);
        ::close(fd);
        return false;
    };
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        return refuse(CannotReadFolder(errno));
    // Only a bind mount can lead back into a folder being walked, but that would never end.
    for (const Folder& outer : m_folders)
        if (outer.Device == status.st_dev && outer.Inode == status.st_ino)
            return refuse("skipped: leads back into a folder above it");
    const int listing = ::dup(fd);
    DIR* folder = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (folder == nullptr) {
        std::string verdict = CannotReadFolder(errno);
        if (listing >= 0)
            ::close(listing);
        return refuse(std::move(verdict));
    }
    Folder walked;
    walked.Path = path;
    walked.Device = status.st_dev;
    walked.Inode = status.st_ino;
    errno = 0;
    while (const dirent* found = ::readdir(folder)) {
        const std::string name = found->d_name;
        if (name != "." && name != "..")
            walked.Names.push_back(name);
        errno = 0;
    }
    const int error = errno;
    ::closedir(folder);
    if (error != 0)
        return refuse(CannotReadFolder(error));
    std::sort(walked.Names.begin(), walked.Names.end());
    walked.Descriptor = std::make_shared<const FolderDescriptor>(fd);
    m_folders.push_back(std::move(walked));
    return true;
}

} // namespace veltrane
