#pragma once
// Everything the tool writes to standard output and standard error, in the order it is given. A thread
// of its own does the writing, so that a destination that takes nothing (a pipe nobody reads, a terminal
// held with Ctrl-S) holds up neither the files nor the tool's answer to a signal: a caller waits only
// while a fair amount of text is already waiting, and never once a signal has asked the tool to stop.
// Where no thread can be made, the caller writes, a piece at a time as the destination takes it, with
// the same watch for a signal.
//
// A write that fails (a pipe whose reader has gone, a full disk, a descriptor not open for writing) is
// remembered for the exit status; it changes nothing else the tool does.

#include <chrono>
#include <memory>
#include <string>
#include <thread>

namespace veltrane {

class ToolOutput {
public:
    enum class Stream { Output, Errors };

    ToolOutput(int output, int errors);
    // Lets the writer finish what it has where it has taken everything given so far; leaves it to the
    // end of the process otherwise, since a destination that takes nothing would hold the tool for good.
    ~ToolOutput();
    ToolOutput(const ToolOutput&) = delete;
    ToolOutput& operator=(const ToolOutput&) = delete;

    int fd(Stream stream) const;
    void Write(Stream stream, std::string text);
    // Waits until everything given has been written. Once a signal has asked the tool to stop, waits a
    // moment at most; false then when something is left unwritten.
    bool Flush();

    // The system's error number of the first write that failed (0 when none did), and its stream.
    int error() const;
    Stream failedStream() const;

    // Whether a thread of its own writes (for tests).
    bool threaded() const { return m_thread.joinable(); }

    // How long a signal that asks to stop leaves the output to be written.
    static constexpr std::chrono::milliseconds Grace{500};

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;
};

} // namespace veltrane
