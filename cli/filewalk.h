#pragma once
// The files of a batch in the order they are reported: each argument in turn and, with -r, the
// contents of each folder argument, depth first and in byte order of the names. Symbolic links
// named as arguments are followed; symbolic links met inside folders are not.

#include "engine/folderdescriptor.h"

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

namespace veltrane {

// One line of the batch's output to come.
struct BatchEntry {
    std::string Path;
    // Empty when the file is to be processed; otherwise the outcome the walk found by itself
    // ("skipped: is a folder", "skipped: is a symbolic link", ...).
    std::string Verdict;
    // The file the path named when the walk looked (links followed), when it could look.
    bool Known = false;
    dev_t Device = 0;
    ino_t Inode = 0;
    // For an entry found inside a folder: that folder, held open, and the entry's name in it. The file
    // is to be reached through them, never through Path, which may lead elsewhere by then.
    std::shared_ptr<const FolderDescriptor> Folder;
    std::string Name;
};

class FileWalk {
public:
    FileWalk(std::vector<std::string> arguments, bool recursive)
        : m_arguments(std::move(arguments)), m_recursive(recursive) {}
    FileWalk(const FileWalk&) = delete;
    FileWalk& operator=(const FileWalk&) = delete;

    // The next entry, or false when there are no more.
    bool Next(BatchEntry& entry);

    // Called with each entry found inside a folder once the walk has looked at it, before Next hands it
    // on (tests change the tree there).
    using LookedHook = std::function<void(const BatchEntry& entry)>;
    void SetLookedHook(LookedHook hook) { m_looked = std::move(hook); }

private:
    struct Folder {
        std::shared_ptr<const FolderDescriptor> Descriptor;
        std::string Path;
        std::vector<std::string> Names;
        std::size_t NextName = 0;
        dev_t Device = 0;
        ino_t Inode = 0;
    };

    // Starts walking the open folder `fd` at `path`; false, with `entry` telling why, when it
    // cannot be read or would walk in a circle.
    bool Enter(int fd, const std::string& path, BatchEntry& entry);
    bool NextInFolder(BatchEntry& entry);

    std::vector<std::string> m_arguments;
    std::size_t m_nextArgument = 0;
    bool m_recursive = false;
    std::vector<Folder> m_folders;
    LookedHook m_looked;
};

} // namespace veltrane
