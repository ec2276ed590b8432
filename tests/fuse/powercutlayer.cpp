#include "tests/fuse/powercutlayer.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <utility>

#include <fcntl.h>
#include <linux/falloc.h>

namespace veltrane::testsupport {

namespace {

// The checksum `cksum` prints, so that a check can tell that what it reads back through the kernel is
// what the cut left, not pages the kernel kept from before.
std::uint32_t Cksum(const std::vector<std::uint8_t>& bytes) {
    std::uint32_t crc = 0;
    auto feed = [&crc](std::uint8_t byte) {
        crc ^= static_cast<std::uint32_t>(byte) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    };
    for (std::uint8_t byte : bytes)
        feed(byte);
    for (std::uint64_t length = bytes.size(); length != 0; length >>= 8)
        feed(static_cast<std::uint8_t>(length));
    return ~crc;
}

bool Valid(std::int64_t offset, std::int64_t length) {
    constexpr std::int64_t Largest = std::int64_t(1) << 40;
    return offset >= 0 && length >= 0 && offset <= Largest && length <= Largest;
}

} // namespace

int PowerCutLayer::Attributes(std::string_view path, struct stat& status) const {
    status = {};
    if (path == "/") {
        status.st_mode = S_IFDIR | 0755;
        status.st_nlink = 2;
        status.st_ino = 1;
        return 0;
    }
    if (IsControl(path)) {
        status.st_mode = S_IFREG | 0600;
        status.st_nlink = 1;
        status.st_size = static_cast<off_t>(m_report.size());
        return 0;
    }
    const Node* node = Find(path);
    if (!node)
        return -ENOENT;
    status.st_mode = S_IFREG | node->Mode;
    status.st_nlink = 1;
    status.st_ino = node->Inode;
    status.st_size = static_cast<off_t>(node->File.size());
    status.st_blocks = (status.st_size + 511) / 512;
    status.st_mtim = node->Modified;
    status.st_ctim = node->Changed;
    status.st_atim = node->Modified;
    return 0;
}

std::vector<std::string> PowerCutLayer::Names() const {
    std::vector<std::string> names{std::string(ControlName)};
    for (const auto& entry : m_files)
        names.push_back(entry.first);
    return names;
}

int PowerCutLayer::Create(std::string_view path, mode_t mode) {
    if (IsControl(path) || Find(path))
        return 0;
    if (m_frozen)
        return -EIO;
    const std::string_view name = path.substr(1);
    if (name.empty() || name.find('/') != std::string_view::npos)
        return -EACCES;
    Node& node = m_files[std::string(name)];
    node.Mode = mode & 07777;
    node.Inode = m_nextInode++;
    Touch(node);
    return 0;
}

int PowerCutLayer::Open(std::string_view path) const {
    return IsControl(path) || Find(path) ? 0 : -ENOENT;
}

int PowerCutLayer::Read(std::string_view path, std::int64_t offset, std::span<std::uint8_t> into) const {
    if (IsControl(path)) {
        if (offset < 0 || offset >= static_cast<std::int64_t>(m_report.size()))
            return 0;
        const std::size_t count = std::min(into.size(), m_report.size() - static_cast<std::size_t>(offset));
        std::copy_n(m_report.begin() + offset, count, into.begin());
        return static_cast<int>(count);
    }
    const Node* node = Find(path);
    if (!node)
        return -ENOENT;
    return static_cast<int>(node->File.Read(offset, into));
}

int PowerCutLayer::Write(std::string_view path, std::int64_t offset, std::span<const std::uint8_t> data) {
    if (IsControl(path)) {
        const int refused = Control({reinterpret_cast<const char*>(data.data()), data.size()});
        return refused != 0 ? refused : static_cast<int>(data.size());
    }
    Node* node = nullptr;
    if (const int refused = Changeable(path, node))
        return refused;
    if (!Valid(offset, static_cast<std::int64_t>(data.size())))
        return -EFBIG;
    node->File.Write(offset, data);
    Changed(*node);
    return static_cast<int>(data.size());
}

int PowerCutLayer::Truncate(std::string_view path, std::int64_t length) {
    if (IsControl(path))
        return 0;
    Node* node = nullptr;
    if (const int refused = Changeable(path, node))
        return refused;
    if (!Valid(length, 0))
        return -EFBIG;
    node->File.Resize(length);
    Changed(*node);
    return 0;
}

int PowerCutLayer::Sync(std::string_view path) {
    if (IsControl(path))
        return 0;
    Node* node = nullptr;
    if (const int refused = Changeable(path, node))
        return refused;
    node->File.Sync();
    Count();
    return 0;
}

int PowerCutLayer::Allocate(std::string_view path, int mode, std::int64_t offset, std::int64_t length) {
    Node* node = nullptr;
    if (IsControl(path))
        return -EOPNOTSUPP;
    if (const int refused = Changeable(path, node))
        return refused;
    if (!Valid(offset, length) || length == 0)
        return -EINVAL;
    // Reserving room changes no byte, so nothing of it can be lost.
    if (mode == FALLOC_FL_KEEP_SIZE) {
    } else if (mode == (FALLOC_FL_KEEP_SIZE | FALLOC_FL_PUNCH_HOLE)) {
        node->File.Zero(offset, length);
    } else if (mode == 0) {
        if (offset + length > node->File.size())
            node->File.Resize(offset + length);
    } else {
        return -EOPNOTSUPP;
    }
    Changed(*node);
    return 0;
}

int PowerCutLayer::Remove(std::string_view path) {
    if (IsControl(path))
        return -EPERM;
    if (m_frozen)
        return -EIO;
    const auto found = m_files.find(path.substr(1));
    if (found == m_files.end())
        return -ENOENT;
    m_files.erase(found);
    return 0;
}

PowerCutLayer::Node* PowerCutLayer::Find(std::string_view path) {
    return const_cast<Node*>(std::as_const(*this).Find(path));
}

const PowerCutLayer::Node* PowerCutLayer::Find(std::string_view path) const {
    if (path.size() < 2 || path[0] != '/')
        return nullptr;
    const auto found = m_files.find(path.substr(1));
    return found == m_files.end() ? nullptr : &found->second;
}

int PowerCutLayer::Changeable(std::string_view path, Node*& node) {
    node = Find(path);
    if (!node)
        return -ENOENT;
    return m_frozen ? -EIO : 0;
}

void PowerCutLayer::Touch(Node& node) {
    ::clock_gettime(CLOCK_REALTIME, &node.Modified);
    node.Changed = node.Modified;
}

void PowerCutLayer::Changed(Node& node) {
    Touch(node);
    Count();
}

void PowerCutLayer::Count() {
    ++m_changes;
    if (m_changes == m_stopAt) {
        m_frozen = true;
        m_stopNow = true;
    }
}

int PowerCutLayer::Control(std::string_view command) {
    while (!command.empty() && (command.back() == '\n' || command.back() == ' '))
        command.remove_suffix(1);
    if (command == "restart") {
        m_frozen = false;
        return 0;
    }
    const std::size_t space = command.find(' ');
    const std::string_view verb = command.substr(0, space);
    std::uint64_t number = 0;
    const char* end = command.data() + command.size();
    const auto parsed = std::from_chars(command.data() + std::min(space + 1, command.size()), end, number);
    if (space == std::string_view::npos || parsed.ec != std::errc() || parsed.ptr != end)
        return -EINVAL;
    if (verb == "cut") {
        PowerCut(number);
    } else if (verb == "stop") {
        m_changes = 0;
        m_stopAt = static_cast<std::int64_t>(number);
    } else {
        return -EINVAL;
    }
    return 0;
}

void PowerCutLayer::PowerCut(std::uint64_t seed) {
    std::mt19937_64 random(seed);
    m_report = "power cut, seed " + std::to_string(seed) + ", " + std::to_string(m_changes) + " changes counted\n";
    m_changes = 0;
    m_stopAt = 0;
    for (auto& [name, node] : m_files) {
        const bool unsynced = node.File.unsynced();
        PowerCutFile::Cut cut = node.File.PowerCut(random);
        node.File = PowerCutFile(std::move(cut.Bytes));
        Touch(node);
        char line[512];
        std::snprintf(line, sizeof line, "%s: size %lld cksum %u", name.c_str(),
                      static_cast<long long>(node.File.size()), Cksum(node.File.bytes()));
        m_report += line;
        if (unsynced) {
            std::snprintf(line, sizeof line,
                          "; %d pages unsynced: %d newest, %d as synced, %d between; size synced %lld, newest %lld",
                          cut.Pages, cut.Newest, cut.AsSynced, cut.Between, static_cast<long long>(cut.SyncedSize),
                          static_cast<long long>(cut.NewestSize));
            m_report += line;
        }
        m_report += '\n';
    }
    m_frozen = true;
    std::fputs(m_report.c_str(), stderr);
}

} // namespace veltrane::testsupport
