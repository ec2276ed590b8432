#pragma once
// The names of files part-way through a command, noted per user so that the window can tell of them
// when it starts and `veltrane-cli status` can list them. Only a hint: what happens to a file rests on
// what the file itself carries (partwaystate.h), so a note that is lost, damaged, stale or forged
// changes nothing but a list shown to the user.
//
// One small file per command in $XDG_STATE_HOME/veltrane/partway/ (by default under
// ~/.local/state), so that any number of commands note and drop theirs without sharing a record. A
// folder that is not the user's own, or open to others, is not used. A note holds a path and nothing
// else: no key, no check block.

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
    void SetFolder(std::string folder) { m_folder = std::move(folder); }
    // Turns noting off altogether (the window's tests, tools that keep no state).
    void SetEnabled(bool enabled) { m_enabled = enabled; }

    // Notes `path` (made absolute) for the command in hand, replacing its earlier note; best effort.
    void Note(const std::string& path);
    // Drops the note of the command in hand, if any.
    void Drop() noexcept;

    // Every name noted, by any process of the user's, each once, in name order.
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
    std::string m_own; // the note of the command in hand
};

} // namespace veltrane
