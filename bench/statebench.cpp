// What keeping a file's part-way state costs, and what waiting for the disk costs, each beside its
// reference in one run:
//   1. a command on a 256 MiB file in the page cache, without syncs (an encryption and a decryption),
//      beside a bare pass: the same keystream XORed over the same blocks with no state, no trailer
//      and nothing else; the least any pass costs;
//   2. 2,000 files of 4 KiB, encrypted and decrypted one after another without syncs, beside a bare
//      command per file (open, read, XOR, write, trailer appended or cut, close);
//   3. on the disk (the folder of the files must not be a tmpfs): a durable command on one 256 MiB
//      file, beside the same command without syncs followed by one fdatasync of the file, the least
//      any durable write costs;
//   4. the same for 1,000 files of 64 KiB run as the tool runs them (as many at once as the tool
//      takes by default), beside the tool's run without syncs followed by one fdatasync of each file.
// The kinds take turns round after round, in alternating order, and each figure is the median of its
// rounds, so that a change in the machine's load falls on all of them alike. Wall-clock time.
//
//   veltrane-statebench [ROUNDS]   (default 5; files in $TMPDIR, or /tmp)

#include "cli/batchrun.h"
#include "cli/commandline.h"
#include "cli/filewalk.h"
#include "cli/outcomereport.h"
#include "cli/terminalprogress.h"
#include "cli/tooloutput.h"
#include "engine/engineunit.h"
#include "engine/filelayout.h"
#include "engine/filesequences.h"
#include "engine/passstream.h"
#include "engine/progressdisplay.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::size_t BigSize = std::size_t{256} << 20;
constexpr int SmallFiles = 2000;
constexpr std::size_t SmallSize = 4096;
constexpr int MediumFiles = 1000;
constexpr std::size_t MediumSize = 64 * 1024;
const std::vector<std::uint8_t> Key{'s', 't', 'a', 't', 'e'};

class NoDisplay : public veltrane::ProgressDisplay {
public:
    void MakeVisible() override {}
    void SetProgress(int) override {}
};

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "veltrane-statebench: %s\n", what.c_str());
    std::exit(1);
}

void WriteFile(const std::string& path, std::size_t size) {
    std::vector<char> bytes(size);
    std::uint32_t seed = 99;
    for (char& byte : bytes) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<char>(seed >> 24);
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, bytes.data(), size) != static_cast<ssize_t>(size) || ::close(fd) != 0)
        Fail("cannot write " + path);
}

void SyncFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::fdatasync(fd) != 0)
        Fail("cannot sync " + path);
    ::close(fd);
}

// Encrypts and decrypts `path` once, as a command does.
void RoundTrip(veltrane::EngineUnit& unit, const std::string& path) {
    NoDisplay display;
    unit.CurrentFileName = path;
    if (veltrane::EncryptFile(unit, display).Outcome != veltrane::FileOutcome::Encrypted ||
        veltrane::DecryptFile(unit, display).Outcome != veltrane::FileOutcome::Decrypted)
        Fail("a command did not do what it should on " + path);
}

// The least a pass costs: every block read, XORed with the keystream and written back, nothing else.
void BarePass(veltrane::EngineUnit& unit, int fd, std::int64_t size) {
    veltrane::PassStream stream(unit, 0, size);
    unit.BlockBuffer.resize(veltrane::BlockSize);
    for (std::int64_t at = 0; at < size; at += static_cast<std::int64_t>(veltrane::BlockSize)) {
        const auto length = static_cast<std::size_t>(std::min<std::int64_t>(veltrane::BlockSize, size - at));
        const std::span<std::uint8_t> block(unit.BlockBuffer.data(), length);
        if (::pread(fd, block.data(), length, at) != static_cast<ssize_t>(length))
            Fail("cannot read in the bare pass");
        stream.XorNext(block);
        if (::pwrite(fd, block.data(), length, at) != static_cast<ssize_t>(length))
            Fail("cannot write in the bare pass");
    }
}

// A bare encryption and decryption: the pass, and the trailer appended and cut again.
void BareRoundTrip(veltrane::EngineUnit& unit, const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        Fail("cannot open " + path);
    const std::int64_t size = ::lseek(fd, 0, SEEK_END);
    BarePass(unit, fd, size);
    std::array<std::uint8_t, veltrane::TrailerSize> trailer{};
    std::copy(veltrane::FileMarker.begin(), veltrane::FileMarker.end(), trailer.begin() + 10);
    if (::pwrite(fd, trailer.data(), trailer.size(), size) != static_cast<ssize_t>(trailer.size()))
        Fail("cannot append in the bare pass");
    BarePass(unit, fd, size + veltrane::TrailerSize);
    if (::ftruncate(fd, size) != 0)
        Fail("cannot truncate in the bare pass");
    ::close(fd);
}

// The tool's run over `files`, as veltrane-cli encrypt (then decrypt) does it.
void ToolRun(const std::vector<std::string>& files, bool encrypt, bool sync, const fs::path& hints) {
    veltrane::ToolOutput output(STDOUT_FILENO, STDERR_FILENO);
    veltrane::TerminalProgress progress(false, output);
    veltrane::OutcomeReport report(true, progress, output);
    veltrane::FileWalk walk(files, false);
    veltrane::SecretBytes key = Key;
    const int jobs = veltrane::CommandLine::DefaultJobs(sync);
    const auto command = encrypt ? veltrane::ToolCommand::Encrypt : veltrane::ToolCommand::Decrypt;
    // The run's notes go with its files, not into the user's own state folder.
    const auto ownHints = [&](veltrane::EngineUnit& unit) { unit.Hints.SetFolder(hints.string()); };
    veltrane::BatchRun batch({command, jobs, sync, {}, ownHints}, key, report, progress);
    batch.Run(walk);
    if (report.anyProblem())
        Fail("the tool's run had a problem");
}

double Seconds(const std::function<void()>& work) {
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::unique_ptr<veltrane::EngineUnit> MakeUnit(bool durable, const fs::path& hints) {
    auto unit = std::make_unique<veltrane::EngineUnit>();
    unit->KeyText = Key;
    unit->Durable = durable;
    unit->Hints.SetFolder(hints.string());
    return unit;
}

void Row(const char* what, double seconds, double reference, const char* of) {
    std::printf("%-52s %8.3f s   %6.3f of %s\n", what, seconds, reference / seconds, of);
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const char* tmp = std::getenv("TMPDIR");
    const fs::path work = fs::path(tmp && *tmp ? tmp : "/tmp") / ("veltrane-statebench." + std::to_string(::getpid()));
    fs::create_directories(work / "small");
    fs::create_directories(work / "medium");
    struct statfs system {};
    const bool onTmpfs = ::statfs(work.c_str(), &system) == 0 && system.f_type == 0x01021994;
    const std::string big = (work / "big.bin").string();
    WriteFile(big, BigSize);
    std::vector<std::string> small, medium;
    for (int n = 0; n < SmallFiles; ++n) {
        small.push_back((work / "small" / std::to_string(n)).string());
        WriteFile(small.back(), SmallSize);
    }
    for (int n = 0; n < MediumFiles; ++n) {
        medium.push_back((work / "medium" / std::to_string(n)).string());
        WriteFile(medium.back(), MediumSize);
    }
    ::sync();
    auto quick = MakeUnit(false, work / "state");
    auto durable = MakeUnit(true, work / "state");

    std::vector<double> bare, state, bareSmall, stateSmall, syncedAfter, synced, toolAfter, tool;
    RoundTrip(*quick, big); // the page cache, and the first use of the keystream
    for (int round = 0; round < rounds; ++round) {
        const auto inTurn = [round](const auto& first, const auto& second) {
            round % 2 == 0 ? (first(), second()) : (second(), first());
        };
        inTurn([&] { bare.push_back(Seconds([&] { BareRoundTrip(*quick, big); })); },
               [&] { state.push_back(Seconds([&] { RoundTrip(*quick, big); })); });
        inTurn(
            [&] {
                bareSmall.push_back(Seconds([&] {
                    for (const std::string& path : small)
                        BareRoundTrip(*quick, path);
                }));
            },
            [&] {
                stateSmall.push_back(Seconds([&] {
                    for (const std::string& path : small)
                        RoundTrip(*quick, path);
                }));
            });
        ::sync();
        inTurn(
            [&] {
                syncedAfter.push_back(Seconds([&] {
                    NoDisplay display;
                    quick->CurrentFileName = big;
                    veltrane::EncryptFile(*quick, display);
                    SyncFile(big);
                    veltrane::DecryptFile(*quick, display);
                    SyncFile(big);
                }));
            },
            [&] { synced.push_back(Seconds([&] { RoundTrip(*durable, big); })); });
        inTurn(
            [&] {
                toolAfter.push_back(Seconds([&] {
                    for (bool encrypt : {true, false}) {
                        ToolRun(medium, encrypt, false, work / "state");
                        for (const std::string& path : medium)
                            SyncFile(path);
                    }
                }));
            },
            [&] {
                tool.push_back(Seconds([&] {
                    ToolRun(medium, true, true, work / "state");
                    ToolRun(medium, false, true, work / "state");
                }));
            });
        std::fprintf(stderr, "round %d of %d\n", round + 1, rounds);
    }
    quick->WipeKey();
    durable->WipeKey();
    fs::remove_all(work);

    std::printf("Medians of %d rounds, wall-clock time; each is an encryption and a decryption.\n", rounds);
    if (onTmpfs)
        std::printf("The files were on a tmpfs: the durable rows say nothing about a disk.\n");
    Row("bare pass, 256 MiB cached", Median(bare), Median(bare), "bare");
    Row("command without syncs, 256 MiB cached", Median(state), Median(bare), "bare (goal >= 0.97)");
    Row("bare commands, 2,000 files of 4 KiB", Median(bareSmall), Median(bareSmall), "bare");
    Row("commands without syncs, 2,000 files of 4 KiB", Median(stateSmall), Median(bareSmall), "bare");
    Row("without syncs, then fdatasync, 256 MiB", Median(syncedAfter), Median(syncedAfter), "that");
    Row("durable, 256 MiB", Median(synced), Median(syncedAfter), "one fdatasync (goal >= 0.87)");
    Row("tool without syncs, then fdatasync each, 1,000 x 64 KiB", Median(toolAfter), Median(toolAfter), "that");
    Row("tool durable, 1,000 x 64 KiB", Median(tool), Median(toolAfter), "one fdatasync each (goal >= 0.5)");
    return 0;
}
