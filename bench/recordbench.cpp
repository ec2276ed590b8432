// What keeping the progress record costs, beside the same work without it, in one run:
//   1. the pass over a 256 MiB file in the page cache (an encryption and a decryption), with the
//      record kept current for every 64 KiB block, beside the same pass with no place for a record;
//   2. the same pass flushing the file's data and the record to the disk after every block
//      (fdatasync of both), which is what surviving a power cut would take, over 32 MiB of it (the
//      rate is what counts, and it is slow);
//   3. 2,000 files of 4 KiB encrypted and decrypted one after another, with and without the record.
// The kinds take turns, round after round, with and without the record in alternating order, and
// each figure is the median of its rounds, so that a change in the machine's load (or the writeback
// of what the kind before dirtied) falls on all of them alike. Wall-clock time.
//
//   veltrane-recordbench [ROUNDS]   (default 7; files in $TMPDIR, or /tmp)

#include "engine/blockpass.h"
#include "engine/engineunit.h"
#include "engine/filesequences.h"
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
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::size_t FileSize = std::size_t{256} << 20;
constexpr std::size_t FlushedSize = std::size_t{32} << 20;
constexpr int SmallFiles = 2000;
constexpr std::size_t SmallSize = 4096;

// Flushes the file and the record to the disk as each block is reported done.
class FlushingDisplay : public veltrane::ProgressDisplay {
public:
    FlushingDisplay(const std::string& file, const std::string& record)
        : m_file(::open(file.c_str(), O_RDONLY | O_CLOEXEC)), m_record(::open(record.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~FlushingDisplay() override {
        ::close(m_file);
        ::close(m_record);
    }
    void MakeVisible() override {}
    void SetProgress(int) override {
        ::fdatasync(m_file);
        ::fdatasync(m_record);
    }

private:
    int m_file;
    int m_record;
};

void WriteFile(const std::string& path, std::size_t size) {
    std::vector<char> bytes(size);
    std::uint32_t seed = 99;
    for (char& byte : bytes) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<char>(seed >> 24);
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, bytes.data(), size) != static_cast<ssize_t>(size) || ::close(fd) != 0) {
        std::perror(path.c_str());
        std::exit(1);
    }
}

// Encrypts and decrypts `path` once with `unit`; false when either did not do what it should.
bool RoundTrip(veltrane::EngineUnit& unit, const std::string& path, veltrane::ProgressDisplay* display) {
    unit.CurrentFileName = path;
    const auto pass = [&] { return veltrane::RunBlockPass(unit, display); };
    return veltrane::EncryptCurrentFile(unit, pass, [] {}) == veltrane::FileOutcome::Encrypted &&
           veltrane::DecryptCurrentFile(unit, pass, [] {}) == veltrane::FileOutcome::Decrypted;
}

double Seconds(const std::function<bool()>& work) {
    const auto start = Clock::now();
    if (!work()) {
        std::fputs("veltrane-recordbench: a command did not do what it should\n", stderr);
        std::exit(1);
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    const char* tmp = std::getenv("TMPDIR");
    const fs::path work = fs::path(tmp && *tmp ? tmp : "/tmp") / ("veltrane-recordbench." + std::to_string(::getpid()));
    fs::create_directories(work / "records");
    fs::create_directories(work / "small");
    const std::string big = (work / "big.bin").string();
    WriteFile(big, FileSize);
    const std::string flushedFile = (work / "flushed.bin").string();
    WriteFile(flushedFile, FlushedSize);
    std::vector<std::string> small;
    for (int n = 0; n < SmallFiles; ++n) {
        small.push_back((work / "small" / std::to_string(n)).string());
        WriteFile(small.back(), SmallSize);
    }

    const auto makeUnit = [&](bool record) {
        auto unit = std::make_unique<veltrane::EngineUnit>();
        unit->KeyText = {'b', 'e', 'n', 'c', 'h'};
        // A folder that cannot be made: the commands go on without a record, as without a home.
        unit->Record.SetFolder(record ? (work / "records").string() : "/proc/veltrane-recordbench");
        return unit;
    };
    auto withRecord = makeUnit(true);
    auto withoutRecord = makeUnit(false);
    if (!withRecord->Record.Available() || withoutRecord->Record.Available()) {
        std::fputs("veltrane-recordbench: the record could not be kept, or could where it should not\n", stderr);
        return 1;
    }
    FlushingDisplay flushing(flushedFile, (work / "records" / "progress").string());

    std::vector<double> passWith, passWithout, passFlushed, smallWith, smallWithout;
    RoundTrip(*withRecord, big, nullptr); // warm the page cache
    for (int round = 0; round < rounds; ++round) {
        // Which goes first changes from round to round: the one after meets the other's writeback.
        const auto inTurn = [round](const auto& first, const auto& second) {
            round % 2 == 0 ? (first(), second()) : (second(), first());
        };
        inTurn([&] { passWithout.push_back(Seconds([&] { return RoundTrip(*withoutRecord, big, nullptr); })); },
               [&] { passWith.push_back(Seconds([&] { return RoundTrip(*withRecord, big, nullptr); })); });
        passFlushed.push_back(Seconds([&] { return RoundTrip(*withRecord, flushedFile, &flushing); }));
        const auto allSmall = [&](veltrane::EngineUnit& unit) {
            return [&] {
                return std::all_of(small.begin(), small.end(),
                                   [&](const std::string& path) { return RoundTrip(unit, path, nullptr); });
            };
        };
        inTurn([&] { smallWithout.push_back(Seconds(allSmall(*withoutRecord))); },
               [&] { smallWith.push_back(Seconds(allSmall(*withRecord))); });
        std::fprintf(stderr, "round %d of %d\n", round + 1, rounds);
    }
    withRecord->WipeKey();
    withoutRecord->WipeKey();
    fs::remove_all(work);

    const double megabytes = 2.0 * FileSize / 1e6; // encrypted and decrypted
    const double without = Median(passWithout), with = Median(passWith), flushed = Median(passFlushed);
    const double smallOff = Median(smallWithout), smallOn = Median(smallWith);
    std::printf("Medians of %d rounds, wall-clock time; a pass is an encryption and a decryption.\n", rounds);
    std::printf("%-34s %9.3f s %9.0f MB/s\n", "pass of 256 MiB, no record", without, megabytes / without);
    std::printf("%-34s %9.3f s %9.0f MB/s  %5.3f of no record\n", "pass of 256 MiB, record", with,
                megabytes / with, without / with);
    const double flushedMegabytes = 2.0 * FlushedSize / 1e6;
    std::printf("%-34s %9.3f s %9.0f MB/s  %5.3f of no record\n", "pass of 32 MiB, record, fdatasync", flushed,
                flushedMegabytes / flushed, (flushedMegabytes / flushed) / (megabytes / without));
    std::printf("%-34s %9.3f s %9.0f files/s\n", "2,000 files of 4 KiB, no record", smallOff,
                2.0 * SmallFiles / smallOff);
    std::printf("%-34s %9.3f s %9.0f files/s  %5.3f of no record\n", "2,000 files of 4 KiB, record", smallOn,
                2.0 * SmallFiles / smallOn, smallOff / smallOn);
    return 0;
}
