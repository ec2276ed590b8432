#include "cli/batchrun.h"

#include "cli/terminaltext.h"
#include "cli/toolthreads.h"
#include "engine/engineunit.h"
#include "engine/fileexists.h"
#include "engine/filesequences.h"
#include "engine/interruption.h"
#include "words/failuresentence.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>

namespace veltrane {

namespace {

using Clock = std::chrono::steady_clock;

// What all workers together may hold of their files at once (see zonedpass.h).
constexpr std::int64_t ZoneMemory = std::int64_t{256} << 20;
// The least a worker holds of its file at once: what it falls back to where memory runs out.
constexpr std::int64_t LeastZoneMemory = std::int64_t{1} << 20;

// Files that take less than this come and go without a bar flickering past.
constexpr auto Moment = std::chrono::milliseconds(500);

// What the pass tells about the file in hand, kept for the thread that draws the bar.
class FileProgress : public ProgressDisplay {
public:
    void MakeVisible() override {
        m_started.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed);
        m_visible.store(true, std::memory_order_release);
    }
    void SetProgress(int figure) override { m_figure.store(figure, std::memory_order_relaxed); }

    // The figure to show, or -1 when there is no bar to show yet.
    int FigureToShow() const {
        if (!m_visible.load(std::memory_order_acquire))
            return -1;
        const Clock::time_point started{Clock::duration(m_started.load(std::memory_order_relaxed))};
        return Clock::now() - started < Moment ? -1 : m_figure.load(std::memory_order_relaxed);
    }

private:
    std::atomic<bool> m_visible{false};
    std::atomic<Clock::rep> m_started{0};
    std::atomic<int> m_figure{0};
};

// One entry of the batch on its way from the walk to the report.
struct Slot {
    enum class State { Waiting, Running, Done, NotStarted };

    BatchEntry Entry;
    State Stage = State::Waiting;
    // An earlier entry naming the same file, which must be done before this one starts.
    const Slot* After = nullptr;
    std::string Words;
    bool Problem = false;
    // The file failed and not even the words could be made (no memory left).
    bool Unexplained = false;
    FileProgress Progress;
};

// By FileOutcome; a failure is worded by FailureWords.
constexpr const char* OutcomeWords[] = {"encrypted",
                                        "skipped: already encrypted",
                                        "decrypted",
                                        "skipped: not an encrypted file",
                                        "skipped: invalid key",
                                        "skipped: cannot be opened",
                                        "skipped"};
static_assert(std::size(OutcomeWords) == static_cast<std::size_t>(FileOutcome::Failed) + 1);

// By Recovery: what the command did about an earlier command on the file that was interrupted part-way.
constexpr const char* RecoveryWords[] = {"", " (finished an interrupted encryption)",
                                         " (undid an interrupted encryption)", " (finished an interrupted decryption)",
                                         " (undid an interrupted decryption)"};
static_assert(std::size(RecoveryWords) == static_cast<std::size_t>(Recovery::UndidDecryption) + 1);

// The words for a file whose command failed.
std::string FailureWords(const FileResult& result, const std::string& path) {
    // An interrupted file is put back as it was before this command, unless the undo failed as well
    // (then the words say how the file was left, and its record is kept for the next command).
    if (result.Failure.Cause != FailureCause::Interrupted)
        return "failed: " + FailureSentence(result, EscapedName(path));
    return result.PartWay ? "interrupted: " + FailureSentence(result, EscapedName(path))
                          : "interrupted; the file was left unchanged";
}

// Whether the entry is the key file: by what the walk found for a name in a folder (its path may be
// too long to look up, or lead elsewhere by now), by the path otherwise.
bool IsKeyFile(const BatchEntry& entry, const KeyFileIdentity& keyFile) {
    if (!keyFile.Known)
        return false;
    if (entry.Folder)
        return entry.Known && entry.Device == keyFile.Device && entry.Inode == keyFile.Inode;
    struct stat status {};
    return ::stat(entry.Path.c_str(), &status) == 0 && status.st_dev == keyFile.Device &&
           status.st_ino == keyFile.Inode;
}

// The whole command on one file, with the worker's own engine state.
void ProcessFile(EngineUnit& unit, ToolCommand command, const KeyFileIdentity& keyFile, Slot& slot) {
    const BatchEntry& entry = slot.Entry;
    const std::string& path = entry.Path;
    slot.Problem = true;
    if (IsKeyFile(entry, keyFile)) {
        slot.Words = "skipped: is the key file";
        return;
    }
    if (entry.Folder) {
        // Found in a folder: looked at there again, where a symbolic link swapped in since the walk
        // is seen as one and not followed.
        struct stat status {};
        if (::fstatat(entry.Folder->fd(), entry.Name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISLNK(status.st_mode)) {
            slot.Words = "skipped: is a symbolic link";
            return;
        }
    }
    // Unlike the window's run, a missing file does not stop the others.
    if (entry.Folder ? !FileExists(*entry.Folder, entry.Name) : !FileExists(path)) {
        slot.Words = "missing";
        return;
    }
    unit.CurrentFileName = path;
    unit.CurrentFileEntry =
        entry.Folder ? FolderEntry{entry.Folder, entry.Name, entry.Device, entry.Inode} : FolderEntry{};
    const auto run = command == ToolCommand::Encrypt ? &EncryptFile : &DecryptFile;
    FileResult result = run(unit, slot.Progress);
    if (result.Outcome == FileOutcome::Failed && result.Failure.Cause == FailureCause::OutOfMemory && !result.PartWay &&
        unit.ZoneLimit > LeastZoneMemory) {
        // No room for this worker's zones (an address space limit, say), and the file is as it
        // was: once more, and from now on, with the least memory a worker works with.
        unit.ZoneLimit = LeastZoneMemory;
        EngineUnit::Buffer().swap(unit.ZoneBuffer);
        result = run(unit, slot.Progress);
    }
    if (result.Outcome == FileOutcome::Failed) {
        slot.Words = FailureWords(result, path);
        return;
    }
    slot.Words = OutcomeWords[static_cast<std::size_t>(result.Outcome)];
    if (result.Outcome == FileOutcome::CannotOpen && !result.OpenError.empty())
        slot.Words += " (" + result.OpenError + ")";
    std::string recovery = RecoveryWords[static_cast<std::size_t>(result.Recovered)];
    // Bytes another program wrote into the file meanwhile are left as it wrote them: worth a look.
    if (result.ForeignKept && !recovery.empty())
        recovery.insert(recovery.size() - 1, ", around what another program wrote meanwhile");
    slot.Words += recovery;
    slot.Problem =
        (result.Outcome != FileOutcome::Encrypted && result.Outcome != FileOutcome::Decrypted) || result.ForeignKept;
}

// ProcessFile, which leaves nothing for the caller to catch: a worker that let an exception out would
// end the process with other files part-way.
void Process(EngineUnit& unit, ToolCommand command, const KeyFileIdentity& keyFile, Slot& slot) noexcept {
    try {
        ProcessFile(unit, command, keyFile, slot);
    } catch (...) {
        slot.Words.clear();
        slot.Problem = true;
        slot.Unexplained = true;
    }
    unit.CurrentFileEntry = {};
}

// The entries between the walk and the report, shared by the reporting thread and the workers.
class Pipeline {
public:
    explicit Pipeline(std::size_t capacity) : m_capacity(capacity) {}

    std::mutex Mutex;
    std::condition_variable WorkReady; // a slot may have become ready to start, or the run ended
    std::condition_variable SlotDone;  // a slot is done

    // Under Mutex: adds an entry at the end, after any earlier entry of the same file.
    void Add(std::unique_ptr<Slot> slot) {
        if (slot->Stage == Slot::State::Waiting && slot->Entry.Known) {
            const Slot*& last = m_lastOfFile[std::make_pair(slot->Entry.Device, slot->Entry.Inode)];
            slot->After = last;
            last = slot.get();
        }
        m_slots.push_back(std::move(slot));
    }

    // Under Mutex: no entry that has not begun will begin.
    void DropWaiting() {
        for (const auto& slot : m_slots) {
            if (slot->Stage == Slot::State::Waiting)
                slot->Stage = Slot::State::NotStarted;
        }
    }

    bool full() const { return m_slots.size() >= m_capacity; }
    bool empty() const { return m_slots.empty(); }
    Slot& front() { return *m_slots.front(); }
    std::unique_ptr<Slot> TakeFront() {
        std::unique_ptr<Slot> slot = std::move(m_slots.front());
        m_slots.pop_front();
        return slot;
    }

    // Under Mutex: the first waiting entry that no earlier entry of its file holds back.
    Slot* TakeReady() {
        if (InterruptionSignal() != 0)
            return nullptr;
        for (const auto& slot : m_slots) {
            if (slot->Stage == Slot::State::Waiting && slot->After == nullptr) {
                slot->Stage = Slot::State::Running;
                return slot.get();
            }
        }
        return nullptr;
    }

    // Under Mutex: marks `done` as done and lets a later entry of the same file go.
    void Finish(Slot& done) {
        done.Stage = Slot::State::Done;
        for (const auto& slot : m_slots) {
            if (slot->After == &done)
                slot->After = nullptr;
        }
        if (done.Entry.Known) {
            const auto it = m_lastOfFile.find(std::make_pair(done.Entry.Device, done.Entry.Inode));
            if (it != m_lastOfFile.end() && it->second == &done)
                m_lastOfFile.erase(it);
        }
    }

    bool Ended = false;  // no more entries will come and the workers may stop
    int LiveWorkers = 0; // workers made and not yet ended

private:
    std::size_t m_capacity;
    std::deque<std::unique_ptr<Slot>> m_slots;
    std::map<std::pair<dev_t, ino_t>, const Slot*> m_lastOfFile;
};

} // namespace

bool BatchRun::Run(FileWalk& walk) {
    const int jobs = std::max(1, m_settings.Jobs);
    // Enough entries ahead for every worker to find one, while a slow file holds up the report.
    Pipeline pipeline(static_cast<std::size_t>(jobs) * 4 + 16);

    // What the workers hold of their files at once stays within a bound whatever their number.
    const std::int64_t zoneLimit = std::clamp<std::int64_t>(ZoneMemory / jobs, LeastZoneMemory, DefaultZoneLimit);
    // One kept stream of the key for all workers, so that memory grows by its bound at most.
    auto runKey = std::shared_ptr<RunKeystream>(new RunKeystream(m_key));
    const auto setUp = [&](EngineUnit& unit) {
        unit.KeyText = m_key;
        unit.RunKey = runKey;
        unit.Durable = m_settings.Sync;
        unit.ZoneLimit = zoneLimit;
        if (m_settings.SetUpUnit)
            m_settings.SetUpUnit(unit);
    };
    const auto serve = [&] {
        try {
            // On the heap, where its class puts it in memory that core dumps leave out.
            const auto unit = std::make_unique<EngineUnit>();
            setUp(*unit);
            std::unique_lock lock(pipeline.Mutex);
            for (;;) {
                if (Slot* slot = pipeline.TakeReady()) {
                    lock.unlock();
                    Process(*unit, m_settings.Command, m_settings.KeyFile, *slot);
                    lock.lock();
                    pipeline.Finish(*slot);
                    pipeline.SlotDone.notify_one();
                    pipeline.WorkReady.notify_all();
                    continue;
                }
                if (pipeline.Ended)
                    break;
                pipeline.WorkReady.wait(lock);
            }
        } catch (...) {
            // Its engine state could not be set up (no memory for its buffers): the other workers, or
            // the run's own thread, take its share. It holds no entry here.
        }
        const std::lock_guard lock(pipeline.Mutex);
        --pipeline.LiveWorkers;
        pipeline.SlotDone.notify_one();
    };

    std::vector<std::thread> workers;
    workers.reserve(static_cast<std::size_t>(jobs));
    // However the run ends, an exception from the walk or the report included, no worker is left
    // running: each finishes the file in hand, begins no other, and is waited for.
    const auto stopWorkers = [&]() noexcept {
        {
            const std::lock_guard lock(pipeline.Mutex);
            if (!pipeline.Ended)
                pipeline.DropWaiting();
            pipeline.Ended = true;
        }
        pipeline.WorkReady.notify_all();
        for (std::thread& worker : workers)
            worker.join();
        workers.clear();
    };
    struct WorkersStop {
        const decltype(stopWorkers)& Stop;
        ~WorkersStop() { Stop(); }
    } const workersStop{stopWorkers};

    for (int n = 0; n < jobs; ++n) {
        std::unique_lock lock(pipeline.Mutex);
        ++pipeline.LiveWorkers;
        lock.unlock();
        try {
            workers.push_back(ToolThreads::Start(serve));
        } catch (const std::system_error&) {
            // The process may have no more threads: the run goes on with those it has.
            lock.lock();
            --pipeline.LiveWorkers;
            break;
        }
    }
    m_workers = static_cast<int>(workers.size());

    // The run's own engine state, for when no worker is left to take the files.
    std::unique_ptr<EngineUnit> ownUnit;
    const auto processHere = [&](Slot& slot) {
        try {
            if (!ownUnit) {
                ownUnit = std::make_unique<EngineUnit>();
                setUp(*ownUnit);
            }
        } catch (...) {
            ownUnit.reset();
            slot.Problem = true;
            slot.Unexplained = true;
            return;
        }
        Process(*ownUnit, m_settings.Command, m_settings.KeyFile, slot);
    };

    bool walkEnded = false;
    std::vector<std::unique_ptr<Slot>> done;
    std::unique_lock lock(pipeline.Mutex);
    for (;;) {
        // Top up the entries ahead; the walk reads folders, so not under the lock.
        while (!walkEnded && !pipeline.full()) {
            lock.unlock();
            auto slot = std::make_unique<Slot>();
            walkEnded = !walk.Next(slot->Entry);
            lock.lock();
            if (walkEnded)
                break;
            if (!slot->Entry.Verdict.empty()) {
                slot->Words = slot->Entry.Verdict;
                slot->Problem = true;
                slot->Stage = Slot::State::Done;
            }
            pipeline.Add(std::move(slot));
            pipeline.WorkReady.notify_one();
        }
        if (InterruptionSignal() != 0) {
            walkEnded = true;
            pipeline.DropWaiting();
        }
        // Report what is done, in order, without the lock: the workers go on meanwhile, whatever
        // becomes of the output.
        while (!pipeline.empty() && pipeline.front().Stage != Slot::State::Waiting &&
               pipeline.front().Stage != Slot::State::Running)
            done.push_back(pipeline.TakeFront());
        if (!done.empty()) {
            lock.unlock();
            for (const auto& slot : done) {
                if (slot->Stage == Slot::State::Done)
                    m_report.File(slot->Entry.Path,
                                  slot->Unexplained ? "failed (no memory was left to say more)" : slot->Words,
                                  slot->Problem);
            }
            done.clear();
            lock.lock();
        }
        if (pipeline.empty() && walkEnded)
            break;
        // Room again after the report: take more entries first.
        if (!walkEnded && !pipeline.full())
            continue;
        if (pipeline.LiveWorkers == 0) {
            // No worker could be made, or none is left: this thread takes the next file itself.
            if (Slot* slot = pipeline.TakeReady()) {
                lock.unlock();
                processHere(*slot);
                lock.lock();
                pipeline.Finish(*slot);
                continue;
            }
        }
        // Wait for the first entry, drawing its bar meanwhile, and looking out for a stop.
        pipeline.SlotDone.wait_for(lock, std::chrono::milliseconds(100));
        if (m_progress.enabled() && !pipeline.empty() && pipeline.front().Stage == Slot::State::Running) {
            const int figure = pipeline.front().Progress.FigureToShow();
            if (figure >= 0) {
                const std::string label = EscapedName(pipeline.front().Entry.Path);
                lock.unlock();
                m_progress.Show(label, figure);
                lock.lock();
            }
        }
    }
    lock.unlock();
    stopWorkers();
    ownUnit.reset();
    runKey.reset();
    m_progress.Clear();
    ::explicit_bzero(m_key.data(), m_key.size());
    return InterruptionSignal() != 0;
}

} // namespace veltrane
