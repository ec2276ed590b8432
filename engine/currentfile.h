#pragma once
// The single file handle of a run: bound to a path without opening it. The open is of an existing
// regular file of an ordinary file system, for reading and writing, with an exclusive advisory lock
// held while it is open: other holders may read the file meanwhile, but a second writer of ours (this
// program, the command-line tool, on this name or any other name of the same file) is refused. A file
// whose owner-write bit is clear counts as read-only and is never opened for writing, even by root.
//
// One open serves the whole command on a file. The handle remembers what the file was when it was
// opened and what its own steps have made of it since (size, times), so that a step can make sure
// that no other program has cut, grown, rewritten, renamed or replaced the file in the meantime.

#include "engine/engineerror.h"
#include "engine/folderdescriptor.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace veltrane {

// The operations a fault hook and an event log see.
enum class FileOperation { Read, Write, Truncate, Sync, Reserve };

// One change this handle made to its file, as an event log sees it: the bytes a write put at Offset,
// a truncation to Length, a reservation of [Offset, Offset + Length), or a sync.
struct FileEvent {
    FileOperation Operation = FileOperation::Write;
    std::int64_t Offset = 0;
    std::int64_t Length = 0;
    std::span<const std::uint8_t> Bytes;
};

// A stretch of the file: [Offset, Offset + Length).
struct FileRange {
    std::int64_t Offset = 0;
    std::int64_t Length = 0;
};

// A file as a walk through folders found it: its name inside a folder held open, and the file that
// name led to when the folder was read. Acting on it through the folder's descriptor rather than a path
// means acting on the very file the walk listed, whatever the path leads to by then.
struct FolderEntry {
    std::shared_ptr<const FolderDescriptor> Folder;
    std::string Name; // one name: no '/'
    std::uint64_t Device = 0;
    std::uint64_t Inode = 0;
};

class CurrentFileHandle {
public:
    // Called before every read, write and truncation with the operation, the file position and the
    // byte count (the new length for a truncation). Returning an errno value fails the call as a
    // failing device would; lowering `count` makes a read or write transfer only that much.
    // Used by tests to stand in for a faulty disk; empty in the program.
    using FaultHook = std::function<int(FileOperation operation, std::int64_t position, std::size_t& count)>;
    // Told of every change the handle makes to its file, once it is made, in order (tests record a
    // command's writes and syncs with it to build the files a crash could leave). Empty in the program.
    using EventLog = std::function<void(const FileEvent& event)>;

    CurrentFileHandle() = default;
    ~CurrentFileHandle();
    CurrentFileHandle(const CurrentFileHandle&) = delete;
    CurrentFileHandle& operator=(const CurrentFileHandle&) = delete;

    // Names the file without opening it; closes the handle if it is open.
    void Bind(std::string path);
    // Names the file by its entry in a folder held open, and `path` for messages. The open then follows
    // no symbolic link, not even the name itself, and refuses any file but the one the entry names;
    // CheckUnchanged looks the name up in that folder. Closes the handle if it is open.
    void Bind(FolderEntry entry, std::string path);
    const std::string& path() const { return m_path; }

    // Opens the bound file (closing it first if open). False when it cannot be opened for reading
    // and writing; openError() then says why in a few lower-case words ("read-only file system",
    // "in use by another program", "on a pseudo file system (procfs)", ...).
    bool Open();
    void Close() noexcept;
    bool isOpen() const { return m_fd >= 0; }
    const std::string& openError() const { return m_openError; }

    // These need an open handle and throw EngineError naming the file and the system's reason.
    std::int64_t Size() const;
    void SeekTo(std::int64_t offset);
    std::int64_t SeekToEnd();
    std::int64_t Position() const { return m_offset; }
    // Reads up to buffer.size() bytes; fewer only at the end of the file (0 there).
    std::size_t Read(std::span<std::uint8_t> buffer);
    // Writes all of `data` at the current position. `written`, when given, receives how many bytes
    // reached the file, also when the write fails part-way.
    void Write(std::span<const std::uint8_t> data, std::size_t* written = nullptr);
    void Truncate(std::int64_t length);
    // The same at a given offset.
    std::size_t ReadAt(std::int64_t offset, std::span<std::uint8_t> buffer);
    void WriteAt(std::int64_t offset, std::span<const std::uint8_t> data);
    // Makes everything written so far durable (fdatasync): on the disk, size included.
    void Sync();
    // Starts writing the stretch to the disk without waiting, so that a later Sync finds less to do:
    // the system is asked to write it, and a second thread syncs the file through a descriptor of
    // its own (whose errors this handle's next Sync still sees) while the pass goes on.
    void StartWriteback(std::int64_t offset, std::int64_t length) noexcept;

    // Makes sure `length` bytes past the current end can be written later without running out of
    // space (a reservation that does not change the size). False, with `reason` in plain words, when
    // they cannot: the file system has no room, or the process may not make the file that long.
    bool ReserveAfterEnd(std::int64_t length, std::string& reason);
    // Gives back space reserved past the end, where the file system keeps such reservations.
    void ReleaseAfterEnd(std::int64_t length) noexcept;
    // The holes of a sparse file (stretches that hold no data and read as zeros), as the file system
    // reports them; empty for a file without holes or where the file system cannot tell.
    std::vector<FileRange> FindHoles();
    // Allocates the given stretches without changing their contents or the size; false, with
    // `reason`, when there is no room.
    bool Allocate(const std::vector<FileRange>& ranges, std::string& reason);
    // Makes the given stretches holes again (they must hold zeros); best effort.
    void Deallocate(const std::vector<FileRange>& ranges) noexcept;

    // Checks that the file is still what this handle's own steps have made of it: not deleted, of the
    // size they left, and with no other writer since the last Remember() as its modification time
    // shows. `thorough` also checks that the path still names it. Throws EngineError (Changed). Returns
    // the modification time it found.
    timespec CheckUnchanged(bool thorough);
    // Takes the file's present modification time as this handle's own doing (after a step that wrote).
    void Remember();
    // Takes the file's present size as what the handle expects, once another program's addition at
    // its end has been noticed and is to be kept.
    void AcceptSize();
    // From now on a file grown by another program is taken as it is rather than reported (while
    // putting back a file that something keeps adding to).
    void AllowGrowth() { m_allowGrowth = true; }

    // The open file's identity: device, inode, and birth time (tv_sec -1 where the file system
    // keeps none).
    std::uint64_t device() const { return m_device; }
    std::uint64_t inode() const { return m_inode; }
    const timespec& birth() const { return m_birth; }
    std::int64_t expectedSize() const { return m_expectedSize; }
    // The modification time as this handle's own steps left it (or as the open found it).
    const timespec& modified() const { return m_modified; }

    int fd() const { return m_fd; }
    void SetFaultHook(FaultHook hook) { m_hook = std::move(hook); }
    void SetEventLog(EventLog log) { m_log = std::move(log); }

private:
    [[noreturn]] void Fail(FailedOperation operation, int error) const;
    [[noreturn]] void ReportChange(FileChange change, const std::string& how) const;
    int Injected(FileOperation operation, std::size_t& count) const;
    void Log(FileOperation operation, std::int64_t offset, std::int64_t length,
             std::span<const std::uint8_t> bytes = {}) const;
    // Reserves the bytes [offset, offset + length) without changing the size; true also where the
    // file system cannot reserve, false with `reason` where there is no room.
    bool Reserve(std::int64_t offset, std::int64_t length, std::string& reason);
    // Moves `size` bytes at the offset by `step(moved so far, count)`, one read or write each,
    // going on after interruptions and short transfers; `done` follows the bytes moved so far.
    template <typename Step>
    std::size_t Transfer(FileOperation operation, std::size_t size, Step step, std::size_t* done = nullptr);

    // Looks at the bound file without opening it: an O_PATH descriptor, or -1 with m_openError set.
    int LookUp();
    // Waits for the sync StartWriteback began, if any.
    void WaitForWriteback() noexcept;

    std::string m_path;
    FolderEntry m_entry; // its Folder is empty when the file is bound by its path
    std::string m_openError;
    FaultHook m_hook;
    EventLog m_log;
    int m_fd = -1;
    int m_writebackFd = -1; // the same file, opened again for StartWriteback's thread
    std::thread m_writeback;
    // Where the next read or write goes, kept here rather than asked of the system every time.
    std::int64_t m_offset = 0;
    // What the file is since the last of this handle's own steps.
    std::uint64_t m_device = 0;
    std::uint64_t m_inode = 0;
    std::int64_t m_expectedSize = 0;
    timespec m_modified{};
    timespec m_birth{-1, 0};
    bool m_allowGrowth = false;
};

} // namespace veltrane
