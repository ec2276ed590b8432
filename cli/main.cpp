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
#include "cli/tooloutput.h"
#include "engine/interruption.h"
#include "engine/interruptionhints.h"
#include "engine/secretmemory.h"
#include "engine/standarddescriptors.h"

#include <csignal>
#include <cstring>
#include <exception>
#include <optional>
#include <string>

#include <unistd.h>

namespace veltrane {

namespace {

constexpr int ExitDone = 0;
constexpr int ExitSkipped = 1;
constexpr int ExitUsage = 2;
constexpr int ExitOutputLost = 3;

using Stream = ToolOutput::Stream;

int UsageError(ToolOutput& output, const std::string& problem) {
    output.Write(Stream::Errors, "veltrane-cli: " + problem + "\nTry 'veltrane-cli --help' for more information.\n");
    return ExitUsage;
}

int Run(int argc, char** argv, ToolOutput& output) {
    CommandLine line = CommandLine::Parse(argc, argv);
    switch (line.Requested) {
    case CommandLine::Action::ShowHelp:
        output.Write(Stream::Output, CommandLine::HelpText());
        return ExitDone;
    case CommandLine::Action::ShowVersion:
        output.Write(Stream::Output, CommandLine::VersionText(line.Verbose));
        return ExitDone;
    case CommandLine::Action::Refuse:
        return UsageError(output, line.Problem);
    case CommandLine::Action::Run:
        break;
    }
    if (line.Command == ToolCommand::Status)
        return ShowInterruptionStatus(line.Files, InterruptionHints(), output);

    KeepProcessOutOfCoreDumps();
    std::string problem;
    KeyFileIdentity keyFile;
    std::optional<SecretBytes> key;
    if (line.KeyFile)
        key = KeyFromFile(*line.KeyFile, problem, keyFile);
    else if (::isatty(STDIN_FILENO))
        // A mistyped key cannot lock a file away when decrypting: the check block refuses it.
        key = KeyFromTerminal(line.Command == ToolCommand::Encrypt, problem);
    else
        key = KeyFromStandardInput(problem, keyFile);
    if (!key) {
        output.Write(Stream::Errors, "veltrane-cli: " + problem + "\n");
        return ExitUsage;
    }

    TerminalProgress progress(!line.Quiet && ::isatty(STDERR_FILENO) != 0, output);
    OutcomeReport report(line.Quiet, progress, output);
    FileWalk walk(std::move(line.Files), line.Recursive);
    BatchRun batch({line.Command, line.Jobs, line.Sync, keyFile, {}}, *key, report, progress);
    {
        // Ctrl-C, a closed terminal or a termination request: the files in hand are put back as
        // they were, and when the guard goes the tool ends as that signal ends a program. The output
        // has until then to be written: a moment at most, where nothing reads it.
        const InterruptionGuard guard({SIGINT, SIGTERM, SIGHUP, SIGQUIT});
        if (batch.Run(walk))
            output.Write(Stream::Errors, "veltrane-cli: interrupted: the files in hand were put back as they "
                                         "were, and no other was begun\n");
        output.Flush();
    }
    return report.anyProblem() ? ExitSkipped : ExitDone;
}

// The exit status once everything is written: a report that could not be written in full says so,
// in place of the files' own status (they were processed all the same).
int Finish(ToolOutput& output, int status) {
    output.Flush();
    const int error = output.error();
    if (error == 0 || status == ExitUsage)
        return status;
    if (output.failedStream() == Stream::Output) {
        const std::string message =
            std::string("veltrane-cli: cannot write to standard output: ") + std::strerror(error) + "\n";
        (void)!::write(STDERR_FILENO, message.data(), message.size());
    }
    return ExitOutputLost;
}

} // namespace

} // namespace veltrane

int main(int argc, char** argv) {
    // Before anything is opened: no file of the user's may become standard output or error.
    if (!veltrane::OpenStandardDescriptors())
        return veltrane::ExitOutputLost;
    // A write that would pass a file-size limit then fails with EFBIG, which the engine undoes,
    // instead of the signal ending the tool half-way through a file; and a reader of the output that
    // goes away (| head) must not end it there either.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    veltrane::UseUtf8CharacterType();
    veltrane::ToolOutput output(STDOUT_FILENO, STDERR_FILENO);
    int status = veltrane::ExitSkipped;
    try {
        status = veltrane::Run(argc, argv, output);
    } catch (const std::exception& error) {
        output.Write(veltrane::ToolOutput::Stream::Errors, std::string("veltrane-cli: ") + error.what() + "\n");
    }
    return veltrane::Finish(output, status);
}
