#pragma once
// The power-cut layer's files: one folder of files kept in memory, each a PowerCutFile, and the
// control file through which a check cuts the power and restarts the machine. Every call mirrors one
// FUSE operation and returns what FUSE wants: 0 (or a count) on success, a negative errno otherwise.
//
// The control file, /.powercut, takes one command per write:
//   cut SEED   the power fails now: each file is left as the disk may hold it (chosen with SEED, the
//              same choice for the same history), and the layer freezes: every change fails with EIO,
//              as nothing more can reach a disk without power; reading it gives the cut's report
//   restart    the machine is back: what the cut left is what the disk holds, and changes go on
//   stop N     counts changes (writes, truncations, reservations and syncs of files) from now, and
//              makes the N-th the last, unless N is 0: the layer freezes after it, and TakeStop()
//              tells the caller to kill the program that made it, so that a cut lands exactly there
// Names in the folder are durable as soon as they are made: only the files' bytes and sizes are cut.

#include "tests/fuse/powercutfile.h"

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <time.h>

namespace veltrane::testsupport {

class PowerCutLayer {
public:
    static constexpr std::string_view ControlName = ".powercut";

    int Attributes(std::string_view path, struct stat& status) const;
    std::vector<std::string> Names() const;
    int Create(std::string_view path, mode_t mode);
    int Open(std::string_view path) const;
    bool IsControl(std::string_view path) const { return path.substr(1) == ControlName; }
    int Read(std::string_view path, std::int64_t offset, std::span<std::uint8_t> into) const;
    int Write(std::string_view path, std::int64_t offset, std::span<const std::uint8_t> data);
    int Truncate(std::string_view path, std::int64_t length);
    int Sync(std::string_view path);
    int Allocate(std::string_view path, int mode, std::int64_t offset, std::int64_t length);
    int Remove(std::string_view path);

    // What the last cut did, one line per file changed since its last sync.
    const std::string& Report() const { return m_report; }
    // Whether the change just made was the one `stop N` named (once).
    bool TakeStop() { return std::exchange(m_stopNow, false); }

private:
    struct Node {
        PowerCutFile File;
        mode_t Mode = 0;
        ino_t Inode = 0;
        timespec Modified{};
        timespec Changed{};
    };

    // The file `path` names (a name in the root folder), or nullptr.
    Node* Find(std::string_view path);
    const Node* Find(std::string_view path) const;
    // The node for a change, or the errno that refuses it (frozen, missing).
    int Changeable(std::string_view path, Node*& node);
    static void Touch(Node& node);
    // A change made to `node`: its times move, and it counts towards `stop N`.
    void Changed(Node& node);
    void Count();

    int Control(std::string_view command);
    void PowerCut(std::uint64_t seed);

    std::map<std::string, Node, std::less<>> m_files;
    ino_t m_nextInode = 2;
    bool m_frozen = false;
    std::int64_t m_changes = 0; // since the last stop or cut
    std::int64_t m_stopAt = 0;  // 0: none
    bool m_stopNow = false;
    std::string m_report;
};

} // namespace veltrane::testsupport
