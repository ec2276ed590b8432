#pragma once
// The single file handle of a run: bound to a path without opening it; every open is of an existing
// regular file for reading and writing, with an exclusive advisory lock held while it is open, so
// other holders may read the file meanwhile but a second writer of ours is refused. A file whose
// owner-write bit is clear counts as read-only and is never opened for writing, even by root.
// Every open after the first one since Bind must find the same file: one that was deleted and
// replaced under the same name between two steps of a command is refused, so that no step works on
// a file that the steps before it did not examine.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <utility>

namespace veltrane {

// The operations a fault hook sees.
enum class FileOperation { Read, Write, Truncate };

class CurrentFileHandle {
public:
    // Called before every read, write and truncation with the operation, the file position and the
    // byte count (the new length for a truncation). Returning an errno value fails the call as a
    // failing device would; lowering `count` makes a read or write transfer only that much.
    // Used by tests to stand in for a faulty disk; empty in the program.
    using FaultHook = std::function<int(FileOperation operation, std::int64_t position, std::size_t& count)>;

    CurrentFileHandle() = default;
    ~CurrentFileHandle();
    CurrentFileHandle(const CurrentFileHandle&) = delete;
    CurrentFileHandle& operator=(const CurrentFileHandle&) = delete;

    // Names the file without opening it; closes the handle if it is open. The next open decides
    // which file the name stands for until the next Bind.
    void Bind(std::string path);
    const std::string& path() const { return Path; }

    // Opens the bound file (closing it first if open). False when it cannot be opened for reading
    // and writing; openError() then says why in plain words.
    bool Open();
    void Close() noexcept;
    bool isOpen() const { return Fd >= 0; }
    const std::string& openError() const { return OpenErrorText; }

    // These need an open handle and throw EngineError naming the file and the system's reason.
    std::int64_t Size() const;
    void SeekTo(std::int64_t offset);
    std::int64_t SeekToEnd();
    std::int64_t Position() const;
    // Reads up to buffer.size() bytes; fewer only at the end of the file (0 there).
    std::size_t Read(std::span<std::uint8_t> buffer);
    // Writes all of `data` at the current position. `written`, when given, receives how many bytes
    // reached the file, also when the write fails part-way.
    void Write(std::span<const std::uint8_t> data, std::size_t* written = nullptr);
    void Truncate(std::int64_t length);
    // Makes sure `length` bytes past the current end can be written later without running out of
    // space (a reservation that does not change the size). False, with `reason` in plain words, when they
    // cannot: the file system has no room, or the process may not make the file that long.
    bool ReserveAfterEnd(std::int64_t length, std::string& reason);

    int fd() const { return Fd; }
    void SetFaultHook(FaultHook hook) { Hook = std::move(hook); }

private:
    [[noreturn]] void Fail(const char* action, int error) const;
    int Injected(FileOperation operation, std::size_t& count) const;

    std::string Path;
    std::string OpenErrorText;
    FaultHook Hook;
    int Fd = -1;
    // The file (device and inode) that the first open since Bind found.
    bool HaveIdentity = false;
    std::uint64_t Device = 0;
    std::uint64_t Inode = 0;
};

} // namespace veltrane
