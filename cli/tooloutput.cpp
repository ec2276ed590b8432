#include "cli/tooloutput.h"

#include "cli/toolthreads.h"
#include "engine/interruption.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string_view>
#include <utility>

#include <poll.h>
#include <unistd.h>

namespace veltrane {

namespace {

using Clock = std::chrono::steady_clock;

// Text that may wait for the writer before a caller waits in turn: many thousands of lines, so that a
// reader that is merely slow never holds up the files, and little enough for memory not to notice.
constexpr std::size_t MostWaiting = std::size_t{1} << 20;
// How often a caller that waits looks for a signal.
constexpr auto Look = std::chrono::milliseconds(100);

std::size_t IndexOf(ToolOutput::Stream stream) {
    return stream == ToolOutput::Stream::Output ? 0 : 1;
}

// Writes all of `text`, waiting as long as the destination takes. The system's error number, or 0.
int WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written >= 0) {
            text.remove_prefix(static_cast<std::size_t>(written));
        } else if (errno == EAGAIN) {
            // A descriptor that whoever started the tool left non-blocking: wait for room as for any other.
            pollfd room{fd, POLLOUT, 0};
            ::poll(&room, 1, -1);
        } else if (errno != EINTR) {
            return errno;
        }
    }
    return 0;
}

} // namespace

struct ToolOutput::Shared {
    std::array<int, 2> Fds{};
    std::mutex Mutex;
    std::condition_variable Given;   // text was given, or the output is closing
    std::condition_variable Written; // text was written or given up
    std::deque<std::pair<Stream, std::string>> Waiting;
    std::size_t Bytes = 0; // given and not yet written, the piece being written included
    bool Closing = false;
    bool GaveUp = false; // text was dropped once a signal had come
    std::array<bool, 2> Failed{};
    int Error = 0;
    Stream FailedStream = Stream::Output;
    std::optional<Clock::time_point> StopSeen; // when a signal asking to stop was first seen here

    // Under Mutex: whether a signal has asked the tool to stop long enough ago to give up writing.
    bool GraceOver() {
        if (InterruptionSignal() == 0)
            return false;
        const Clock::time_point now = Clock::now();
        if (!StopSeen)
            StopSeen = now;
        return now - *StopSeen >= Grace;
    }

    // Under Mutex.
    void Note(Stream stream, int error) {
        if (error == 0)
            return;
        Failed[IndexOf(stream)] = true;
        if (Error == 0) {
            Error = error;
            FailedStream = stream;
        }
    }

    // The writer thread: the text in the order given, one piece at a time.
    void WriteInTurn() {
        std::unique_lock lock(Mutex);
        for (;;) {
            Given.wait(lock, [this] { return Closing || !Waiting.empty(); });
            if (Waiting.empty())
                return;
            const auto [stream, text] = std::move(Waiting.front());
            Waiting.pop_front();
            // A destination that failed once (a pipe whose reader is gone) would only fail again.
            const bool skip = Failed[IndexOf(stream)];
            lock.unlock();
            const int error = skip ? 0 : WriteAll(Fds[IndexOf(stream)], text);
            lock.lock();
            Note(stream, error);
            Bytes -= text.size();
            Written.notify_all();
        }
    }

    // Without the thread: writes on the caller's thread only what the destination takes at once (poll
    // says there is room, and a pipe with room takes PIPE_BUF bytes whole), looking for a signal
    // between the pieces. The system's error number, 0, or -1 when given up after a signal.
    int WriteWatching(int fd, std::string_view text) {
        while (!text.empty()) {
            pollfd room{fd, POLLOUT, 0};
            const int ready = ::poll(&room, 1, static_cast<int>(Look.count()));
            if (ready == 0 || (ready < 0 && errno == EINTR)) {
                const std::lock_guard lock(Mutex);
                if (GraceOver())
                    return -1;
                continue;
            }
            const ssize_t written = ::write(fd, text.data(), std::min<std::size_t>(text.size(), PIPE_BUF));
            if (written >= 0)
                text.remove_prefix(static_cast<std::size_t>(written));
            else if (errno != EINTR && errno != EAGAIN)
                return errno;
        }
        return 0;
    }
};

ToolOutput::ToolOutput(int output, int errors) : m_shared(std::make_shared<Shared>()) {
    m_shared->Fds = {output, errors};
    try {
        m_thread = ToolThreads::Start([shared = m_shared] { shared->WriteInTurn(); });
    } catch (const std::system_error&) {
        // The callers write themselves.
    }
}

ToolOutput::~ToolOutput() {
    if (!m_thread.joinable())
        return;
    bool idle = false;
    {
        const std::lock_guard lock(m_shared->Mutex);
        m_shared->Closing = true;
        idle = m_shared->Bytes == 0;
    }
    m_shared->Given.notify_all();
    if (idle)
        m_thread.join();
    else
        m_thread.detach();
}

int ToolOutput::fd(Stream stream) const {
    return m_shared->Fds[IndexOf(stream)];
}

void ToolOutput::Write(Stream stream, std::string text) {
    if (text.empty())
        return;
    Shared& shared = *m_shared;
    if (!threaded()) {
        {
            const std::lock_guard lock(shared.Mutex);
            if (shared.Failed[IndexOf(stream)] || shared.GaveUp)
                return;
        }
        const int error = shared.WriteWatching(fd(stream), text);
        const std::lock_guard lock(shared.Mutex);
        if (error < 0)
            shared.GaveUp = true;
        else
            shared.Note(stream, error);
        return;
    }
    std::unique_lock lock(shared.Mutex);
    while (shared.Bytes >= MostWaiting && InterruptionSignal() == 0)
        shared.Written.wait_for(lock, Look);
    shared.Bytes += text.size();
    shared.Waiting.emplace_back(stream, std::move(text));
    shared.Given.notify_one();
}

bool ToolOutput::Flush() {
    Shared& shared = *m_shared;
    std::unique_lock lock(shared.Mutex);
    while (shared.Bytes > 0) {
        if (shared.GraceOver())
            return false;
        shared.Written.wait_for(lock, Look);
    }
    return !shared.GaveUp;
}

int ToolOutput::error() const {
    const std::lock_guard lock(m_shared->Mutex);
    return m_shared->Error;
}

ToolOutput::Stream ToolOutput::failedStream() const {
    const std::lock_guard lock(m_shared->Mutex);
    return m_shared->FailedStream;
}

} // namespace veltrane
