#pragma once
// The tool's command line: the command, its options and the files, parsed with getopt_long, and the
// texts of --help and --version.

#include <optional>
#include <string>
#include <vector>

namespace veltrane {

class CommandLine {
public:
    enum class Action { Run, ShowStatus, ShowHelp, ShowVersion, Refuse };

    // Parses the arguments; an Action::Refuse result says why in Problem.
    static CommandLine Parse(int argc, char** argv);

    static const char* HelpText();
    static std::string VersionText();

    Action Requested = Action::Refuse;
    std::string Problem;
    bool Encrypt = true;
    std::optional<std::string> KeyFile;
    bool Recursive = false;
    bool Quiet = false;
    bool Sync = true; // each step waits for the disk, so that a power cut loses nothing
    int Jobs = 1;
    std::vector<std::string> Files; // for ShowStatus, may be empty: every file left interrupted
};

} // namespace veltrane
