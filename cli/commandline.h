#pragma once
// The tool's command line: the command, its options and the files, parsed with getopt_long, and the
// texts of --help and --version.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <getopt.h>

namespace veltrane {

// What the tool does with its files; each has its entry in CommandLine::Commands.
enum class ToolCommand { Encrypt, Decrypt, Status };

class CommandLine {
public:
    enum class Action { Run, ShowHelp, ShowVersion, Refuse };

    struct CommandEntry {
        std::string_view Name;
        ToolCommand Command;
        // Without files a command that needs none works on every file that commands noted.
        bool NeedsFiles;
    };
    static constexpr CommandEntry Commands[] = {
        {"encrypt", ToolCommand::Encrypt, true},
        {"decrypt", ToolCommand::Decrypt, true},
        {"status", ToolCommand::Status, false},
    };
    // The long options as getopt_long takes them, ending in an entry of zeros.
    static const option LongOptions[];

    // Parses the arguments; an Action::Refuse result says why in Problem.
    static CommandLine Parse(int argc, char** argv);

    static std::string_view NameOf(ToolCommand command);
    static const char* HelpText();
    // With `verbose`, also the keystream kernel in use here and why.
    static std::string VersionText(bool verbose);
    // How many files a run processes at once when -j is not given.
    static int DefaultJobs(bool sync);

    Action Requested = Action::Refuse;
    std::string Problem;
    ToolCommand Command = ToolCommand::Encrypt;
    std::optional<std::string> KeyFile;
    bool Recursive = false;
    bool Quiet = false;
    bool Verbose = false; // with --version
    bool Sync = true; // each step waits for the disk, so that a power cut loses nothing
    int Jobs = 1;
    std::vector<std::string> Files; // for a command that needs none, may be empty
};

} // namespace veltrane
