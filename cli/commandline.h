#pragma once
// The tool's command line: the command, its options and the files, parsed with getopt_long, and the
// texts of --help and --version.

#include <optional>
#include <string>
#include <vector>

class CommandLine {
public:
    enum class Action { Run, ShowStatus, ShowHelp, ShowVersion, Refuse };

    // Parses the arguments; an Action::Refuse result says why in problem.
    static CommandLine Parse(int argc, char** argv);

    static const char* HelpText();
    static std::string VersionText();

    Action action = Action::Refuse;
    std::string problem;
    bool encrypt = true;
    std::optional<std::string> keyFile;
    bool recursive = false;
    bool quiet = false;
    int jobs = 1;
    std::vector<std::string> files; // for ShowStatus, may be empty: every file left interrupted
};
