#include "engine/progressrecord.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace veltrane {

namespace {

// The shared file: a header page, an index of small entries that readers scan (one per slot, each
// the lock point of its slot), and the slots themselves. Mostly holes on disk.
constexpr char Magic[16] = {'V', 'E', 'L', 'T', 'R', 'A', 'N', 'E', '-', 'R', 'E', 'C', 'O', 'R', 'D', '1'};
constexpr int SlotCount = 256;
constexpr std::size_t EntrySize = 32;
constexpr std::size_t IndexOffset = 4096;
constexpr std::size_t SlotsOffset = IndexOffset + SlotCount * EntrySize;
constexpr std::size_t SlotSize = 8192;
constexpr std::size_t SharedSize = SlotsOffset + SlotCount * SlotSize;

// In a slot: the command's header, two copies of its progress (the newer valid one counts, so a
// process killed while writing one leaves the other), and the file's path.
constexpr std::size_t ProgressOffset = 128;
constexpr std::size_t ProgressStride = 256;
constexpr std::size_t PathOffset = 1024;
constexpr std::size_t MostPath = SlotSize - PathOffset - 1;

struct Entry {
    std::uint64_t Device;
    std::uint64_t Inode;
    std::uint64_t Active;
    std::uint64_t Spare;
};

struct Header {
    std::uint64_t Device;
    std::uint64_t Inode;
    std::int64_t BirthSeconds;
    std::int64_t BirthNanoseconds;
    std::uint32_t Command;
    std::uint32_t PathLength;
    std::int64_t OriginalLength;
    std::uint8_t CheckBlock[16];
    std::uint8_t BootId[16]; // the system's boot when the command ran
    std::uint64_t Checksum;  // of the fields above and the path
};

struct Progress {
    std::uint64_t Sequence;
    std::uint32_t Phase;
    std::uint32_t Spare;
    std::int64_t Block;
    std::int64_t BlockLength;
    std::int64_t UndoEnd;
    std::int64_t ExpectedSize;
    std::int64_t ModifiedSeconds;
    std::int64_t ModifiedNanoseconds;
    std::int64_t WrittenAt;
    std::uint64_t Samples[RecordPagesPerBlock];
    std::uint64_t Checksum; // of the fields above
};
static_assert(sizeof(Header) <= ProgressOffset && sizeof(Progress) <= ProgressStride);

// The index entry and the slot of slot number `slot` in the mapped file.
Entry* EntryAt(unsigned char* map, int slot) {
    return reinterpret_cast<Entry*>(map + IndexOffset + slot * EntrySize);
}

unsigned char* SlotAt(unsigned char* map, int slot) {
    return map + SlotsOffset + slot * SlotSize;
}

std::uint64_t Checksum(const void* data, std::size_t length, std::uint64_t hash = 14695981039346656037ull) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t n = 0; n < length; ++n)
        hash = (hash ^ bytes[n]) * 1099511628211ull;
    // Never 0, so that a page of zeros is never a valid record.
    return hash | 1;
}

std::uint64_t HeaderChecksum(const Header& header, const char* path) {
    return Checksum(path, header.PathLength, Checksum(&header, offsetof(Header, Checksum)));
}

std::int64_t WallClockNanoseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// This boot of the system, from the kernel's random boot id (zeros where it cannot be read).
BootIdentity ReadBootId() {
    BootIdentity id{};
    const int fd = ::open("/proc/sys/kernel/random/boot_id", O_RDONLY | O_CLOEXEC);
    char text[64] = {};
    const ssize_t got = fd >= 0 ? ::read(fd, text, sizeof text - 1) : -1;
    if (fd >= 0)
        ::close(fd);
    std::size_t nibble = 0;
    for (ssize_t at = 0; at < got && nibble < 2 * id.size(); ++at) {
        const char c = text[at];
        const int value = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (value < 0)
            continue;
        id[nibble / 2] = static_cast<std::uint8_t>(id[nibble / 2] << 4 | value);
        ++nibble;
    }
    return id;
}

BootIdentity& ThisBoot() {
    static BootIdentity id = ReadBootId();
    return id;
}

bool MakeFolders(const std::string& folder) {
    for (std::size_t at = 1; at <= folder.size(); ++at) {
        if (at != folder.size() && folder[at] != '/')
            continue;
        const std::string part = folder.substr(0, at);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

} // namespace

ProgressRecord::~ProgressRecord() {
    if (m_map)
        ::munmap(m_map, SharedSize);
    // Closing the descriptor lets go of every lock this unit held.
    if (m_fd >= 0)
        ::close(m_fd);
}

std::string ProgressRecord::DefaultFolder() {
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && state[0] == '/')
        return std::string(state) + "/veltrane";
    if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        return std::string(home) + "/.local/state/veltrane";
    return {};
}

const BootIdentity& ProgressRecord::CurrentBoot() {
    return ThisBoot();
}

void ProgressRecord::SetCurrentBoot(const BootIdentity& boot) {
    ThisBoot() = boot;
}

bool ProgressRecord::OpenShared() {
    m_tried = true;
    const std::string folder = m_folder.empty() ? DefaultFolder() : m_folder;
    if (folder.empty() || !MakeFolders(folder))
        return false;
    const std::string path = folder + "/progress";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) ||
        (status.st_size != 0 && status.st_size != static_cast<off_t>(SharedSize)) ||
        (status.st_size == 0 && ::ftruncate(fd, SharedSize) != 0)) {
        ::close(fd);
        return false;
    }
    void* map = ::mmap(nullptr, SharedSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) {
        ::close(fd);
        return false;
    }
    auto* bytes = static_cast<unsigned char*>(map);
    // A new file: whoever gets here first writes the same bytes.
    if (std::all_of(bytes, bytes + sizeof Magic, [](unsigned char c) { return c == 0; }))
        std::memcpy(bytes, Magic, sizeof Magic);
    if (std::memcmp(bytes, Magic, sizeof Magic) != 0) {
        ::munmap(map, SharedSize);
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_map = bytes;
    return true;
}

bool ProgressRecord::ClaimSlot() {
    for (int slot = 0; slot < SlotCount; ++slot) {
        auto* entry = EntryAt(m_map, slot);
        if (std::atomic_ref(entry->Active).load() != 0 || !LockEntry(slot))
            continue;
        // Locked by nobody else and not in use: a free slot, now ours.
        if (std::atomic_ref(entry->Active).load() == 0) {
            // Room for what this unit will write, so that a full disk shows now and not as a fault
            // in the middle of a command.
            if (::fallocate(m_fd, 0, static_cast<off_t>(SlotsOffset + slot * SlotSize), SlotSize) != 0 &&
                errno != EOPNOTSUPP) {
                UnlockEntry(slot);
                return false;
            }
            m_own = slot;
            return true;
        }
        UnlockEntry(slot);
    }
    return false;
}

bool ProgressRecord::Available() {
    if (!m_tried)
        OpenShared();
    // Once per unit: a slot given up by Abandon() is claimed again there.
    if (m_map && !m_claimTried) {
        m_claimTried = true;
        ClaimSlot();
    }
    return m_own >= 0;
}

void ProgressRecord::Abandon() {
    m_armed = false;
    if (!recording() || m_current == m_taken) {
        Release();
        return;
    }
    // The slot keeps describing a file left in between; it becomes a leftover like that of a killed
    // command, and this unit carries on in a new one.
    UnlockEntry(m_own);
    m_own = -1;
    m_current = -1;
    ClaimSlot();
}

bool ProgressRecord::SetEntryLock(int slot, short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = static_cast<off_t>(IndexOffset + slot * EntrySize);
    lock.l_len = EntrySize;
    return ::fcntl(m_fd, F_OFD_SETLK, &lock) == 0;
}

bool ProgressRecord::LockEntry(int slot) {
    return SetEntryLock(slot, F_WRLCK);
}

void ProgressRecord::UnlockEntry(int slot) {
    SetEntryLock(slot, F_UNLCK);
}

std::optional<RecordState> ProgressRecord::ReadSlot(int slot) const {
    const unsigned char* base = SlotAt(m_map, slot);
    Header header;
    std::memcpy(&header, base, sizeof header);
    const char* path = reinterpret_cast<const char*>(base + PathOffset);
    if (header.PathLength > MostPath || header.Checksum != HeaderChecksum(header, path))
        return std::nullopt;
    const Progress* newest = nullptr;
    Progress copies[2];
    for (int n = 0; n < 2; ++n) {
        std::memcpy(&copies[n], base + ProgressOffset + n * ProgressStride, sizeof(Progress));
        if (copies[n].Checksum == Checksum(&copies[n], offsetof(Progress, Checksum)) &&
            (!newest || copies[n].Sequence > newest->Sequence))
            newest = &copies[n];
    }
    if (!newest)
        return std::nullopt;
    RecordState state;
    state.Device = header.Device;
    state.Inode = header.Inode;
    state.BirthSeconds = header.BirthSeconds;
    state.BirthNanoseconds = header.BirthNanoseconds;
    state.Path.assign(path, header.PathLength);
    state.Command = static_cast<RecordCommand>(header.Command);
    state.OriginalLength = header.OriginalLength;
    std::memcpy(state.CheckBlock.data(), header.CheckBlock, state.CheckBlock.size());
    std::memcpy(state.BootId.data(), header.BootId, state.BootId.size());
    state.Phase = static_cast<RecordPhase>(newest->Phase);
    state.Block = newest->Block;
    state.BlockLength = newest->BlockLength;
    state.UndoEnd = newest->UndoEnd;
    state.ExpectedSize = newest->ExpectedSize;
    state.ModifiedSeconds = newest->ModifiedSeconds;
    state.ModifiedNanoseconds = newest->ModifiedNanoseconds;
    state.WrittenAt = newest->WrittenAt;
    std::memcpy(state.Samples.data(), newest->Samples, sizeof newest->Samples);
    return state;
}

std::optional<RecordState> ProgressRecord::TakeLeftover(std::uint64_t device, std::uint64_t inode) {
    if (!Available())
        return std::nullopt;
    for (int slot = 0; slot < SlotCount; ++slot) {
        if (slot == m_own)
            continue;
        auto* entry = EntryAt(m_map, slot);
        if (std::atomic_ref(entry->Active).load(std::memory_order_acquire) == 0 ||
            std::atomic_ref(entry->Device).load() != device || std::atomic_ref(entry->Inode).load() != inode)
            continue;
        // Locked means its command is alive; it cannot be on this file, which the caller holds.
        if (!LockEntry(slot))
            continue;
        std::optional<RecordState> state = ReadSlot(slot);
        if (!state || state->Device != device || state->Inode != inode) {
            // Damaged beyond use: drop it rather than let it stand in the way.
            std::atomic_ref(entry->Active).store(0, std::memory_order_release);
            UnlockEntry(slot);
            continue;
        }
        m_taken = slot;
        m_current = slot;
        m_state = *state;
        m_sequence = 0;
        for (int n = 0; n < 2; ++n) {
            const auto* copy =
                reinterpret_cast<const Progress*>(SlotAt(m_map, slot) + ProgressOffset + n * ProgressStride);
            m_sequence = std::max(m_sequence, copy->Sequence);
        }
        return state;
    }
    return std::nullopt;
}

void ProgressRecord::Release() {
    if (m_taken >= 0) {
        UnlockEntry(m_taken);
        if (m_current == m_taken)
            m_current = -1;
        m_taken = -1;
    }
}

std::vector<RecordState> ProgressRecord::Leftovers() {
    std::vector<RecordState> found;
    if (!m_tried)
        OpenShared();
    if (!m_map)
        return found;
    for (int slot = 0; slot < SlotCount; ++slot) {
        if (slot == m_own || slot == m_taken)
            continue;
        auto* entry = EntryAt(m_map, slot);
        if (std::atomic_ref(entry->Active).load(std::memory_order_acquire) == 0 || !LockEntry(slot))
            continue;
        if (std::optional<RecordState> state = ReadSlot(slot))
            found.push_back(std::move(*state));
        UnlockEntry(slot);
    }
    return found;
}

void ProgressRecord::Arm(const RecordState& header) {
    m_state = header;
    m_armed = Available();
}

void ProgressRecord::Write(const RecordState& state) {
    if (!recording()) {
        if (!m_armed)
            return;
        m_armed = false;
        m_current = m_own;
        m_sequence = 0;
        unsigned char* base = SlotAt(m_map, m_current);
        auto* entry = EntryAt(m_map, m_current);
        Header header{};
        header.Device = state.Device;
        header.Inode = state.Inode;
        header.BirthSeconds = state.BirthSeconds;
        header.BirthNanoseconds = state.BirthNanoseconds;
        header.Command = static_cast<std::uint32_t>(state.Command);
        header.PathLength = static_cast<std::uint32_t>(std::min(state.Path.size(), MostPath));
        header.OriginalLength = state.OriginalLength;
        std::memcpy(header.CheckBlock, state.CheckBlock.data(), state.CheckBlock.size());
        std::memcpy(header.BootId, ThisBoot().data(), sizeof header.BootId);
        std::memcpy(base + PathOffset, state.Path.data(), header.PathLength);
        base[PathOffset + header.PathLength] = 0;
        header.Checksum = HeaderChecksum(header, state.Path.data());
        std::memcpy(base, &header, sizeof header);
        // No older progress of an earlier command may count for this one.
        std::memset(base + ProgressOffset, 0, 2 * ProgressStride);
        std::atomic_ref(entry->Device).store(state.Device);
        std::atomic_ref(entry->Inode).store(state.Inode);
        // The entry says "in use" only once the header is complete; the progress below follows
        // before the first byte of the file changes, which is what a reader needs.
        std::atomic_ref(entry->Active).store(1, std::memory_order_release);
    }
    if (&state != &m_state)
        m_state = state;
    Progress progress{};
    progress.Sequence = ++m_sequence;
    progress.Phase = static_cast<std::uint32_t>(state.Phase);
    progress.Block = state.Block;
    progress.BlockLength = state.BlockLength;
    progress.UndoEnd = state.UndoEnd;
    progress.ExpectedSize = state.ExpectedSize;
    progress.ModifiedSeconds = state.ModifiedSeconds;
    progress.ModifiedNanoseconds = state.ModifiedNanoseconds;
    progress.WrittenAt = WallClockNanoseconds();
    m_state.WrittenAt = progress.WrittenAt;
    std::memcpy(progress.Samples, state.Samples.data(), sizeof progress.Samples);
    progress.Checksum = Checksum(&progress, offsetof(Progress, Checksum));
    // The copy that is not the newest is overwritten; until this one is whole, the other one counts.
    std::memcpy(SlotAt(m_map, m_current) + ProgressOffset + (m_sequence % 2) * ProgressStride, &progress,
                sizeof progress);
    // The file's next write must not be seen before this state is in the shared memory.
    std::atomic_thread_fence(std::memory_order_seq_cst);
}

void ProgressRecord::Finish() {
    m_armed = false;
    if (!recording()) {
        Release();
        return;
    }
    auto* entry = EntryAt(m_map, m_current);
    std::atomic_ref(entry->Active).store(0, std::memory_order_release);
    std::atomic_ref(entry->Device).store(0);
    std::atomic_ref(entry->Inode).store(0);
    if (m_current == m_taken) {
        UnlockEntry(m_taken);
        m_taken = -1;
    }
    m_current = -1;
}

} // namespace veltrane
