// veltrane-cli: encrypts or decrypts files in place, in the same format and with the same keys as
// the window program, for scripts and machines without a display.

#include "cli/batchrun.h"
#include "cli/commandline.h"
#include "cli/filewalk.h"
#include "cli/interruptionstatus.h"
#include "cli/keyinput.h"
#include "cli/outcomereport.h"
#include "cli/terminalprogress.h"
#include "cli/terminaltext.h"
#include "engine/interruption.h"
#include "engine/interruptionhints.h"

#include <csignal>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

namespace veltrane {

namespace {

constexpr int ExitDone = 0;
constexpr int ExitSkipped = 1;
constexpr int ExitUsage = 2;

int UsageError(const std::string& problem) {
    std::fprintf(stderr, "veltrane-cli: %s\nTry 'veltrane-cli --help' for more information.\n", problem.c_str());
    return ExitUsage;
}

int Run(int argc, char** argv) {
    CommandLine line = CommandLine::Parse(argc, argv);
    switch (line.Requested) {
    case CommandLine::Action::ShowHelp:
        std::fputs(CommandLine::HelpText(), stdout);
        return ExitDone;
    case CommandLine::Action::ShowVersion:
        std::fputs(CommandLine::VersionText().c_str(), stdout);
        return ExitDone;
    case CommandLine::Action::ShowStatus:
        return ShowInterruptionStatus(line.Files, InterruptionHints());
    case CommandLine::Action::Refuse:
        return UsageError(line.Problem);
    case CommandLine::Action::Run:
        break;
    }

    KeepKeyOutOfCoreDumps();
    std::string problem;
    KeyFileIdentity keyFile;
    std::optional<SecretBytes> key;
    if (line.KeyFile)
        key = KeyFromFile(*line.KeyFile, problem, keyFile);
    else if (::isatty(STDIN_FILENO))
        // A mistyped key cannot lock a file away when decrypting: the check block refuses it.
        key = KeyFromTerminal(line.Encrypt, problem);
    else
        key = KeyFromStandardInput(problem, keyFile);
    if (!key) {
        std::fprintf(stderr, "veltrane-cli: %s\n", problem.c_str());
        return ExitUsage;
    }

    TerminalProgress progress(!line.Quiet && ::isatty(STDERR_FILENO) != 0);
    OutcomeReport report(line.Quiet, progress);
    FileWalk walk(std::move(line.Files), line.Recursive);
    BatchRun batch({line.Encrypt, line.Jobs, line.Sync, keyFile}, *key, report, progress);
    {
        // Ctrl-C, a closed terminal or a termination request: the files in hand are put back as
        // they were, and when the guard goes the tool ends as that signal ends a program.
        const InterruptionGuard guard({SIGINT, SIGTERM, SIGHUP, SIGQUIT});
        if (batch.Run(walk))
            std::fputs(
                "veltrane-cli: interrupted: the files in hand were put back as they were, and no other was begun\n",
                stderr);
    }
    return report.anyProblem() ? ExitSkipped : ExitDone;
}

} // namespace

} // namespace veltrane

int main(int argc, char** argv) {
    // A write that would pass a file-size limit then fails with EFBIG, which the engine undoes,
    // instead of the signal ending the tool half-way through a file; and a reader of the output that
    // goes away (| head) must not end it there either.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    veltrane::UseUtf8CharacterType();
    try {
        return veltrane::Run(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "veltrane-cli: %s\n", error.what());
        return veltrane::ExitSkipped;
    }
}
