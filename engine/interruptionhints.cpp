#include "engine/interruptionhints.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <random>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace veltrane {

namespace {

constexpr char NoteTag[] = "veltrane note 1\n";
constexpr std::size_t MostNote = 64 * 1024;

// A folder that is this user's own and closed to others, made when missing; false otherwise.
bool OwnFolder(const std::string& path, bool make) {
    if (make)
        ::mkdir(path.c_str(), 0700);
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == ::geteuid() &&
           (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool MakeParents(const std::string& folder) {
    for (std::size_t at = 1; at < folder.size(); ++at) {
        if (folder[at] == '/' && ::mkdir(folder.substr(0, at).c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

std::string Absolute(const std::string& path) {
    if (!path.empty() && path[0] == '/')
        return path;
    std::array<char, PATH_MAX> here{};
    if (::getcwd(here.data(), here.size()) == nullptr)
        return path;
    return std::string(here.data()) + "/" + path;
}

// The name a note was written with, or empty for anything that is not a note.
std::string ReadNote(int folder, const char* name) {
    const int fd = ::openat(folder, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return {};
    std::string text;
    struct stat status {};
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0 &&
        status.st_size <= static_cast<off_t>(MostNote)) {
        text.resize(static_cast<std::size_t>(status.st_size));
        if (::read(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
            text.clear();
    }
    ::close(fd);
    const std::size_t tag = sizeof NoteTag - 1;
    if (text.size() <= tag + 1 || text.compare(0, tag, NoteTag) != 0 || text[tag] != '/')
        return {};
    return text.substr(tag);
}

// Removes a note unless a live unit holds it (a unit holds its own for as long as it lives).
void RemoveUnlessHeld(int folder, const std::string& name) {
    const int fd = ::openat(folder, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        ::unlinkat(folder, name.c_str(), 0);
    ::close(fd);
}

template <typename Visit> void ForEachNote(const std::string& folder, Visit visit) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() > 5 && name.compare(name.size() - 5, 5, ".note") == 0)
            visit(::dirfd(dir), name, ReadNote(::dirfd(dir), entry->d_name));
    }
    ::closedir(dir);
}

} // namespace

std::string InterruptionHints::DefaultFolder() {
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && state[0] == '/')
        return std::string(state) + "/veltrane";
    if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        return std::string(home) + "/.local/state/veltrane";
    return {};
}

std::string InterruptionHints::Folder() const {
    return m_folder.empty() ? DefaultFolder() : m_folder;
}

std::string InterruptionHints::NotesFolder(bool make) const {
    const std::string folder = Folder();
    if (!m_enabled || folder.empty())
        return {};
    if (make && !MakeParents(folder + "/"))
        return {};
    if (!OwnFolder(folder, make) || !OwnFolder(folder + "/partway", make))
        return {};
    return folder + "/partway";
}

void InterruptionHints::Note(const std::string& path) {
    constexpr auto tag = static_cast<off_t>(sizeof NoteTag - 1);
    // A note removed from the folder (by hand, or with the folder) is made again.
    if (struct stat status {}; m_fd >= 0 && (::fstat(m_fd, &status) != 0 || status.st_nlink == 0))
        Drop();
    if (m_own.empty()) {
        const std::string folder = NotesFolder(true);
        if (folder.empty())
            return;
        static std::atomic<unsigned> counter{0};
        std::random_device random;
        const std::string name = folder + "/" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" +
                                 std::to_string(random()) + ".note";
        m_fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (m_fd < 0)
            return;
        m_own = name;
        if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0 || ::pwrite(m_fd, NoteTag, tag, 0) != tag) {
            Drop();
            return;
        }
    }
    // Over the tag alone: a note cut short names at worst another file, which carries no state and
    // which the readers drop.
    const std::string named = Absolute(path);
    if (::pwrite(m_fd, named.data(), named.size(), tag) != static_cast<ssize_t>(named.size()) ||
        ::ftruncate(m_fd, tag + static_cast<off_t>(named.size())) != 0)
        Drop();
    else
        m_naming = true;
}

void InterruptionHints::Done() noexcept {
    if (m_naming && ::ftruncate(m_fd, sizeof NoteTag - 1) != 0)
        Drop();
    m_naming = false;
}

void InterruptionHints::Leave() noexcept {
    if (!m_naming)
        return;
    ::close(m_fd);
    m_fd = -1;
    m_own.clear();
    m_naming = false;
}

void InterruptionHints::Drop() noexcept {
    if (!m_own.empty())
        ::unlink(m_own.c_str());
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_own.clear();
    m_naming = false;
}

std::vector<std::string> InterruptionHints::Names() const {
    std::vector<std::string> names;
    const std::string folder = NotesFolder(false);
    if (folder.empty())
        return names;
    ForEachNote(folder, [&](int dir, const std::string& name, const std::string& path) {
        if (!path.empty())
            names.push_back(path);
        else
            RemoveUnlessHeld(dir, name);
    });
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

void InterruptionHints::Forget(const std::string& path) const {
    const std::string folder = NotesFolder(false);
    if (folder.empty())
        return;
    const std::string absolute = Absolute(path);
    ForEachNote(folder, [&](int dir, const std::string& name, const std::string& noted) {
        if (noted.empty() || noted == absolute)
            RemoveUnlessHeld(dir, name);
    });
}

std::vector<std::string> InterruptionHints::TakeLegacyNames() const {
    // The layout earlier versions used: a tag, an index of 256 entries (the third field non-zero for
    // a slot in use) and 256 slots, each with the length of its file's name and the name at +1024.
    constexpr char LegacyTag[16] = {'V', 'E', 'L', 'T', 'R', 'A', 'N', 'E', '-', 'R', 'E', 'C', 'O', 'R', 'D', '1'};
    constexpr std::size_t IndexAt = 4096, EntrySize = 32, Slots = 256, SlotsAt = IndexAt + Slots * EntrySize;
    constexpr std::size_t SlotSize = 8192, PathLengthAt = 36, PathAt = 1024, Size = SlotsAt + Slots * SlotSize;
    std::vector<std::string> names;
    const std::string folder = Folder();
    if (!m_enabled || folder.empty() || !OwnFolder(folder, false))
        return names;
    const std::string store = folder + "/progress";
    const int fd = ::open(store.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return names;
    struct stat status {};
    std::vector<char> bytes;
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size == static_cast<off_t>(Size)) {
        bytes.resize(Size);
        if (::pread(fd, bytes.data(), Size, 0) != static_cast<ssize_t>(Size))
            bytes.clear();
    }
    ::close(fd);
    if (bytes.size() == Size && std::memcmp(bytes.data(), LegacyTag, sizeof LegacyTag) == 0) {
        for (std::size_t slot = 0; slot < Slots; ++slot) {
            std::uint64_t active = 0;
            std::memcpy(&active, bytes.data() + IndexAt + slot * EntrySize + 16, sizeof active);
            std::uint32_t length = 0;
            const char* at = bytes.data() + SlotsAt + slot * SlotSize;
            std::memcpy(&length, at + PathLengthAt, sizeof length);
            if (active != 0 && length > 0 && length < SlotSize - PathAt)
                names.emplace_back(at + PathAt, length);
        }
    }
    ::unlink(store.c_str());
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

} // namespace veltrane
