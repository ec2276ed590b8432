#include "cli/batchrun.h"

#include "cli/terminaltext.h"
#include "engine/blockpass.h"
#include "engine/engineerror.h"
#include "engine/engineunit.h"
#include "engine/fileexists.h"
#include "engine/filesequences.h"
#include "engine/interruption.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include <string.h>
#include <sys/stat.h>

namespace veltrane {

namespace {

using Clock = std::chrono::steady_clock;

// What all workers together may hold of their files at once (see zonedpass.h).
constexpr std::int64_t ZoneMemory = std::int64_t{256} << 20;

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
    FileProgress Progress;
};

const char* OutcomeWords(FileOutcome outcome) {
    switch (outcome) {
    case FileOutcome::Encrypted:
        return "encrypted";
    case FileOutcome::Decrypted:
        return "decrypted";
    case FileOutcome::AlreadyEncrypted:
        return "skipped: already encrypted";
    case FileOutcome::NotEncrypted:
        return "skipped: not an encrypted file";
    case FileOutcome::InvalidKey:
        return "skipped: invalid key";
    case FileOutcome::CannotOpen:
        return "skipped: cannot be opened";
    }
    return "skipped";
}

// What the command did about an earlier command on the file that was interrupted part-way.
const char* RecoveryWords(Recovery recovery) {
    switch (recovery) {
    case Recovery::None:
        break;
    case Recovery::FinishedEncryption:
        return " (finished an interrupted encryption)";
    case Recovery::UndidEncryption:
        return " (undid an interrupted encryption)";
    case Recovery::FinishedDecryption:
        return " (finished an interrupted decryption)";
    case Recovery::UndidDecryption:
        return " (undid an interrupted decryption)";
    }
    return "";
}

// `text` with every occurrence of the raw `path` replaced by its escaped form.
std::string WithEscapedPath(std::string text, const std::string& path) {
    if (path.empty())
        return text;
    const std::string escaped = EscapedName(path);
    for (std::size_t at = text.find(path); at != std::string::npos; at = text.find(path, at + escaped.size())) {
        text.replace(at, path.size(), escaped);
    }
    return text;
}

// The whole command on one file, with the worker's own engine state.
void Process(EngineUnit& unit, bool encrypt, const KeyFileIdentity& keyFile, Slot& slot) {
    const std::string& path = slot.Entry.Path;
    slot.Problem = true;
    struct stat status {};
    if (keyFile.Known && ::stat(path.c_str(), &status) == 0 && status.st_dev == keyFile.Device &&
        status.st_ino == keyFile.Inode) {
        slot.Words = "skipped: is the key file";
        return;
    }
    // Unlike the window's run, a missing file does not stop the others.
    if (!FileExists(path)) {
        slot.Words = "missing";
        return;
    }
    unit.CurrentFileName = path;
    const auto pass = [&] { return RunBlockPass(unit, &slot.Progress); };
    const auto afterPass = [] {};
    try {
        const FileOutcome outcome = encrypt ? EncryptCurrentFile(unit, pass, afterPass)
                                                      : DecryptCurrentFile(unit, pass, afterPass);
        slot.Words = OutcomeWords(outcome);
        if (outcome == FileOutcome::CannotOpen && !unit.CurrentFile.openError().empty())
            slot.Words += " (" + unit.CurrentFile.openError() + ")";
        std::string recovery = RecoveryWords(unit.LastRecovery);
        // Bytes another program wrote into the file meanwhile are left as it wrote them: worth a look.
        if (unit.ForeignKept && !recovery.empty())
            recovery.insert(recovery.size() - 1, ", around what another program wrote meanwhile");
        slot.Words += recovery;
        slot.Problem = (outcome != FileOutcome::Encrypted && outcome != FileOutcome::Decrypted) || unit.ForeignKept;
    } catch (const InterruptedError& error) {
        // Put back as it was before this command, unless the undo failed as well (then the words
        // say how the file was left, and its record is kept for the next command).
        slot.Words = unit.LeftInBetween ? "interrupted: " + WithEscapedPath(error.what(), path)
                                        : "interrupted; the file was left unchanged";
    } catch (const EngineError& error) {
        slot.Words = "failed: " + WithEscapedPath(error.what(), path);
    }
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
    void PopFront() { m_slots.pop_front(); }

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

    bool Ended = false; // no more entries will come and the workers may stop

private:
    std::size_t m_capacity;
    std::deque<std::unique_ptr<Slot>> m_slots;
    std::map<std::pair<dev_t, ino_t>, const Slot*> m_lastOfFile;
};

} // namespace

BatchRun::BatchRun(const Settings& settings, SecretBytes& key, OutcomeReport& report,
                   TerminalProgress& progress)
    : m_settings(settings), m_key(key), m_report(report), m_progress(progress) {}

bool BatchRun::Run(FileWalk& walk) {
    const int jobs = std::max(1, m_settings.Jobs);
    // Enough entries ahead for every worker to find one, while a slow file holds up the report.
    Pipeline pipeline(static_cast<std::size_t>(jobs) * 4 + 16);

    // What the workers hold of their files at once stays within a bound whatever their number.
    const std::int64_t zoneLimit =
        std::clamp<std::int64_t>(ZoneMemory / jobs, std::int64_t{1} << 20, DefaultZoneLimit);
    // One kept stream of the key for all workers, so that memory grows by its bound at most.
    auto runKey = std::shared_ptr<RunKeystream>(new RunKeystream(m_key));
    std::vector<std::thread> workers;
    for (int n = 0; n < jobs; ++n) {
        workers.emplace_back([&] {
            // On the heap, where its class puts it in memory that core dumps leave out.
            auto unitStorage = std::make_unique<EngineUnit>();
            EngineUnit& unit = *unitStorage;
            unit.KeyText = m_key;
            unit.RunKey = runKey;
            unit.Durable = m_settings.Sync;
            unit.ZoneLimit = zoneLimit;
            std::unique_lock lock(pipeline.Mutex);
            for (;;) {
                if (Slot* slot = pipeline.TakeReady()) {
                    lock.unlock();
                    Process(unit, m_settings.Encrypt, m_settings.KeyFile, *slot);
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
            lock.unlock();
            unit.WipeKey();
        });
    }

    bool walkEnded = false;
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
        // Report what is done, in order.
        while (!pipeline.empty() && pipeline.front().Stage != Slot::State::Waiting &&
               pipeline.front().Stage != Slot::State::Running) {
            Slot& slot = pipeline.front();
            if (slot.Stage == Slot::State::Done)
                m_report.File(slot.Entry.Path, slot.Words, slot.Problem);
            pipeline.PopFront();
        }
        if (pipeline.empty() && walkEnded)
            break;
        // Room again after the report: take more entries first.
        if (!walkEnded && !pipeline.full())
            continue;
        // Wait for the first entry, drawing its bar meanwhile, and looking out for a stop.
        pipeline.SlotDone.wait_for(lock, std::chrono::milliseconds(100));
        if (m_progress.enabled() && !pipeline.empty() && pipeline.front().Stage == Slot::State::Running) {
            const int figure = pipeline.front().Progress.FigureToShow();
            if (figure >= 0)
                m_progress.Show(EscapedName(pipeline.front().Entry.Path), figure);
        }
    }
    pipeline.Ended = true;
    pipeline.WorkReady.notify_all();
    lock.unlock();
    for (std::thread& worker : workers)
        worker.join();
    runKey.reset();
    m_progress.Clear();
    ::explicit_bzero(m_key.data(), m_key.size());
    return InterruptionSignal() != 0;
}

} // namespace veltrane
