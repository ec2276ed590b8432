#pragma once
// The progress record of a command in hand: how far it has got with its file, kept current while it
// runs, so that a command killed part-way (SIGKILL, a crash, "Force Quit") can be finished or undone
// exactly by the next command on that file.
//
// Records live in one small shared file per user, $XDG_STATE_HOME/veltrane/progress (by default
// ~/.local/state/veltrane/progress), mapped into memory: one slot per running engine unit, claimed
// with a lock that the system lets go of when the process dies, so a slot that is in use but not
// locked is what a killed command left behind. A record is found again by the file's device and inode
// number. It holds what recovery needs and nothing secret: the file's identity, size and times, the
// command, the original length, the check block (which the finished file's trailer shows anyway),
// how far the pass is, and for the block in flight the first bytes of each of its pages in their
// enciphered form (enough to tell which pages were written back). No key, no plain text.
//
// Where the record cannot be kept (no writable home, a full disk), commands go on without one.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace veltrane {

inline constexpr std::size_t RecordPageSize = 4096;
inline constexpr std::size_t RecordPagesPerBlock = 16; // 65,536 / 4,096

// Which boot of the system a record was written in: after a restart (a power cut, a crash of the
// system) what the record says had reached the disk may not have.
using BootIdentity = std::array<std::uint8_t, 16>;

enum class RecordCommand : std::uint32_t { Encrypt = 1, Decrypt = 2 };

// Where the command stands, as seen from the disk.
enum class RecordPhase : std::uint32_t {
    // Blocks before Block are transformed, Block is being written, the rest is as it was.
    Pass = 1,
    // Encrypt only: the body is enciphered; the check block and marker are being appended.
    Trailer = 2,
    // Decrypt only: the whole file is deciphered; the trailer is being cut off.
    Truncate = 3,
    // Putting the file back: blocks before Block are as they were, Block is being written, bytes
    // after it up to UndoEnd are still transformed, the rest is as it was.
    Undo = 4,
    // The bytes are back as they were; the length is being cut back to OriginalLength.
    UndoCut = 5,
};

// What a record says about its file.
struct RecordState {
    std::uint64_t Device = 0;
    std::uint64_t Inode = 0;
    std::int64_t BirthSeconds = -1; // -1 where the file system does not keep a birth time
    std::int64_t BirthNanoseconds = 0;
    std::string Path;
    RecordCommand Command = RecordCommand::Encrypt;
    std::int64_t OriginalLength = 0; // the file's length when the command began
    std::array<std::uint8_t, 10> CheckBlock{};
    BootIdentity BootId{}; // set when the record is written
    RecordPhase Phase = RecordPhase::Pass;
    std::int64_t Block = 0;                                    // the block in flight (Pass, Undo)
    std::int64_t BlockLength = 0;                              // its length in bytes; 0 while none is in flight
    std::int64_t UndoEnd = 0;                                  // Undo: end of the transformed bytes
    std::int64_t ExpectedSize = 0;                             // the size the file had when this state was written
    std::int64_t ModifiedSeconds = 0, ModifiedNanoseconds = 0; // the file's modification time then
    std::int64_t WrittenAt = 0;                                // wall-clock nanoseconds when this state was written
    // The first bytes of each page of the block in flight, in their enciphered form.
    std::array<std::uint64_t, RecordPagesPerBlock> Samples{};
};

class ProgressRecord {
public:
    ProgressRecord() = default;
    ~ProgressRecord();
    ProgressRecord(const ProgressRecord&) = delete;
    ProgressRecord& operator=(const ProgressRecord&) = delete;

    // The folder of the records: $XDG_STATE_HOME/veltrane, else $HOME/.local/state/veltrane.
    static std::string DefaultFolder();
    // This boot of the system, and a stand-in for it (tests).
    static const BootIdentity& CurrentBoot();
    static void SetCurrentBoot(const BootIdentity& boot);
    // Uses another folder (tests); takes effect at the next open.
    void SetFolder(std::string folder) { m_folder = std::move(folder); }

    // True when records can be kept: the shared file is open and this unit has a slot in it.
    bool Available();

    // A record left by an interrupted command on the file with this device and inode, or nothing.
    // A found record is taken over: this unit holds it until Finish() or Release().
    std::optional<RecordState> TakeLeftover(std::uint64_t device, std::uint64_t inode);
    // Lets go of a taken-over record without clearing it (it stays for a later command).
    void Release();
    // Every record left by an interrupted command, for telling the user (nothing is taken over).
    std::vector<RecordState> Leftovers();

    // Gets ready to record a command on the file `header` describes: the record starts with the
    // first Write(), just before the first byte of the file changes.
    void Arm(const RecordState& header);
    // Starts the record armed for (in the taken-over slot when there is one), or updates the state
    // of the one in hand; does nothing when neither. Costs a few hundred bytes of memory stores.
    void Write(const RecordState& state);
    bool recording() const { return m_current >= 0; }
    // Whether the command in hand is recorded or about to be: worth preparing a state for.
    bool wanted() const { return m_armed || recording(); }
    const RecordState& state() const { return m_state; }
    RecordState& state() { return m_state; }
    // Ends the record of the command in hand: the file is no longer in between.
    void Finish();
    // Ends the command in hand with its file still in between (its undo failed too): the record
    // stays for a later command, and this unit records its next command elsewhere.
    void Abandon();

private:
    bool OpenShared();
    bool ClaimSlot();
    bool LockEntry(int slot);
    void UnlockEntry(int slot);
    bool SetEntryLock(int slot, short type);
    std::optional<RecordState> ReadSlot(int slot) const;

    std::string m_folder;
    bool m_tried = false;      // the shared file was opened, or tried
    bool m_claimTried = false; // a slot was claimed, or tried
    int m_fd = -1;
    unsigned char* m_map = nullptr;
    int m_own = -1;     // the slot this unit claimed
    int m_current = -1; // the slot the command in hand records in (own, or taken over)
    int m_taken = -1;   // a taken-over slot, while held
    bool m_armed = false;
    std::uint64_t m_sequence = 0;
    RecordState m_state;
};

} // namespace veltrane
