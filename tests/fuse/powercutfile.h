#pragma once
// One file of the power-cut layer: its bytes as programs see them, its bytes as the disk last made
// them durable, and every change in between, so that a power cut can leave any state that a Linux file
// system may really leave after a crash.
//
// The disk, as ext4 (data=ordered), XFS and Btrfs behave: a sync (fsync or fdatasync) makes everything
// before it durable, size included. Of what came after the last sync, each 4 KiB page holds either its
// content at that sync or any one of the versions its later changes gave it, independently of the
// other pages and of the order they were written in. The size is the synced one or one that a later
// change gave it; a size that an extending write gave survives only with that write's last page (the
// one the new end lies in). A truncation that did not survive leaves the data it cut where it was, but
// the zeros it wrote over the tail of its last page may have reached the disk; one that survived
// leaves zeros wherever nothing was written after it.

#include <cstdint>
#include <map>
#include <random>
#include <span>
#include <vector>

namespace veltrane::testsupport {

class PowerCutFile {
public:
    static constexpr std::int64_t Page = 4096;

    // What a power cut left of the file, and how much of the unsynced changes it kept.
    struct Cut {
        std::vector<std::uint8_t> Bytes;
        // The pages changed since the last sync, and how many of them hold their newest version, their
        // version at the last sync, or one in between.
        int Pages = 0;
        int Newest = 0;
        int AsSynced = 0;
        int Between = 0;
        std::int64_t SyncedSize = 0;
        std::int64_t NewestSize = 0;
    };

    PowerCutFile() = default;
    // A file whose bytes are all on the disk already.
    explicit PowerCutFile(std::vector<std::uint8_t> bytes);

    std::int64_t size() const { return static_cast<std::int64_t>(m_bytes.size()); }
    const std::vector<std::uint8_t>& bytes() const { return m_bytes; }
    bool unsynced() const { return m_changes > 0; }

    // How many bytes of `into` a read at `offset` fills.
    std::size_t Read(std::int64_t offset, std::span<std::uint8_t> into) const;
    void Write(std::int64_t offset, std::span<const std::uint8_t> data);
    void Resize(std::int64_t length);
    // Zeros over [offset, offset + length) inside the file (a hole punched); the size stays.
    void Zero(std::int64_t offset, std::int64_t length);
    void Sync();

    // A state the disk may hold after a power cut now, chosen with `random`: sometimes everything
    // since the last sync lost, sometimes all of it kept, mostly a mixture.
    Cut PowerCut(std::mt19937_64& random) const;

private:
    struct Version {
        int Change = 0;   // the change that made it, counted from 1 after the last sync
        bool Cut = false; // a page wholly past the end of a truncation: there only if the size is
        std::vector<std::uint8_t> Bytes;
    };
    struct SizeChange {
        int Change = 0;
        std::int64_t Size = 0;
        std::int64_t LastPage = -1; // of an extending write; -1 for a truncation
    };

    // Starts the next change; returns its number.
    int Begin();
    // Records the page as the change in hand leaves it.
    void Keep(std::int64_t page, int change, bool cut = false);

    std::vector<std::uint8_t> m_bytes;
    std::vector<std::uint8_t> m_synced;
    int m_changes = 0;
    std::map<std::int64_t, std::vector<Version>> m_versions;
    std::vector<SizeChange> m_sizes;
};

} // namespace veltrane::testsupport
