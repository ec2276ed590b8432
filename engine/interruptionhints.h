#pragma once
// The names of files part-way through a command, noted per user so that the window can tell of them
// when it starts and `veltrane-cli status` can list them. Only a hint: what happens to a file rests on
// what the file itself carries (partwaystate.h), so a note that is lost, damaged, stale or forged
// changes nothing but a list shown to the user.
//
// One small file per engine unit in $XDG_STATE_HOME/veltrane/partway/ (by default under
// ~/.local/state), made at the unit's first command and rewritten for each, so that any number of
// commands note theirs without sharing a record and a file costs no note made and removed: it names
// the file in hand while a command may change it, and nothing (its tag alone) between commands. A unit
// that leaves a file part-way leaves that note as it is and starts another. A unit holds a lock on its
// note while it lives, so that Forget removes only the notes of units that are gone. A folder that is
// not the user's own, or open to others, is not used. A note holds a path and nothing else: no key,
// no check block.

#include <string>
#include <vector>

namespace veltrane {

class InterruptionHints {
public:
    InterruptionHints() = default;
    ~InterruptionHints() { Drop(); }
    InterruptionHints(const InterruptionHints&) = delete;
    InterruptionHints& operator=(const InterruptionHints&) = delete;

    // $XDG_STATE_HOME/veltrane, else $HOME/.local/state/veltrane; empty where neither is an absolute path.
    static std::string DefaultFolder();
    // Uses another folder (tests); empty goes back to the default.
    void SetFolder(std::string folder) {
        Drop();
        m_folder = std::move(folder);
    }
    // Turns noting off altogether (the window's tests, tools that keep no state).
    void SetEnabled(bool enabled) {
        Drop();
        m_enabled = enabled;
    }

    // Notes `path` (made absolute) for the command in hand; best effort.
    void Note(const std::string& path);
    // The command in hand is over and its file whole: the note names nothing.
    void Done() noexcept;
    // The command in hand left its file part-way: the note that names it stays as it is, for good.
    void Leave() noexcept;
    // Removes the unit's note.
    void Drop() noexcept;

    // Every name noted, by any process of the user's, each once, in name order. Notes that name
    // nothing and that no live unit holds (a unit killed between two commands) are removed.
    std::vector<std::string> Names() const;
    // Drops every note naming `path`, for a file that no longer carries a state.
    void Forget(const std::string& path) const;

    // The names in the progress store that earlier versions kept beside the files instead; it is read
    // once, for the user to be told, and then removed: nothing in it is acted on.
    std::vector<std::string> TakeLegacyNames() const;

private:
    std::string Folder() const;
    std::string NotesFolder(bool make) const;

    std::string m_folder;
    bool m_enabled = true;
    std::string m_own; // the unit's note
    int m_fd = -1;     // open and locked while m_own is set
    bool m_naming = false; // the note names the file of the command in hand
};

} // namespace veltrane
