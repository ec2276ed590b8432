// veltrane-cli: encrypts or decrypts files in place, in the same format and with the same keys as
// the window program, for scripts and machines without a display.

#include "cli/keyinput.h"
#include "cli/terminalprogress.h"
#include "main/engine/blockpass.h"
#include "main/engine/engineerror.h"
#include "main/engine/engineunit.h"
#include "main/engine/fileexists.h"
#include "main/engine/filesequences.h"
#include "main/engine/keybytes.h"

#include <csignal>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

namespace {

constexpr int ExitDone = 0;
constexpr int ExitSkipped = 1;
constexpr int ExitUsage = 2;

constexpr const char* HelpText = R"(Usage: veltrane-cli encrypt [--key-file PATH] FILE...
       veltrane-cli decrypt [--key-file PATH] FILE...
       veltrane-cli --help

Encrypts or decrypts each FILE in place, in the file format of Veltrane Encryption: the file is
enciphered byte for byte and ends in a 20-byte trailer that lets decryption check the key.

The key:
  On a terminal it is asked for twice, as "Key: " and "Verify: ", without echo. Otherwise it is the
  first line of standard input, or with --key-file PATH the first line of that file (without its
  line ending). Key text is read as UTF-8 and gives the same key as the same text typed into the
  window program; text that is not UTF-8 is used byte for byte. An empty key is refused.

Output, one line per file on standard output:
  FILE: encrypted | decrypted | skipped: already encrypted | skipped: not an encrypted file |
  skipped: invalid key | skipped: cannot be opened | missing | failed: REASON
A file that fails is left as it was, unless REASON says otherwise. A progress bar appears on
standard error when it is a terminal and a file takes more than a moment.

Exit status:
  0  every file was encrypted or decrypted
  1  any file was skipped, missing or failed
  2  usage error, or the key was refused
)";

int UsageError(const std::string& problem) {
    std::fprintf(stderr, "veltrane-cli: %s\nTry 'veltrane-cli --help' for more information.\n", problem.c_str());
    return ExitUsage;
}

const char* OutcomeWords(veltrane::FileOutcome outcome) {
    switch (outcome) {
    case veltrane::FileOutcome::Encrypted:
        return "encrypted";
    case veltrane::FileOutcome::Decrypted:
        return "decrypted";
    case veltrane::FileOutcome::AlreadyEncrypted:
        return "skipped: already encrypted";
    case veltrane::FileOutcome::NotEncrypted:
        return "skipped: not an encrypted file";
    case veltrane::FileOutcome::InvalidKey:
        return "skipped: invalid key";
    case veltrane::FileOutcome::CannotOpen:
        return "skipped: cannot be opened";
    }
    return "skipped";
}

void Report(const std::string& path, const std::string& words) {
    std::printf("%s: %s\n", path.c_str(), words.c_str());
    std::fflush(stdout);
}

int Run(int argc, char** argv) {
    std::optional<std::string> command;
    std::optional<std::string> keyFile;
    std::vector<std::string> files;
    bool optionsEnded = false;
    for (int n = 1; n < argc; ++n) {
        const std::string_view argument = argv[n];
        if (!optionsEnded && argument.size() > 1 && argument[0] == '-') {
            if (argument == "--") {
                optionsEnded = true;
            } else if (argument == "--help" || argument == "-h") {
                std::fputs(HelpText, stdout);
                return ExitDone;
            } else if (argument == "--key-file") {
                if (n + 1 >= argc)
                    return UsageError("--key-file needs a path");
                keyFile = argv[++n];
            } else if (argument.starts_with("--key-file=")) {
                keyFile = std::string(argument.substr(11));
            } else {
                return UsageError("unknown option '" + std::string(argument) + "'");
            }
        } else if (!command) {
            command = std::string(argument);
        } else {
            files.emplace_back(argument);
        }
    }
    if (!command)
        return UsageError("say encrypt or decrypt");
    if (*command != "encrypt" && *command != "decrypt")
        return UsageError("unknown command '" + *command + "'");
    if (files.empty())
        return UsageError("no files given");
    if (keyFile && keyFile->empty())
        return UsageError("--key-file needs a path");

    std::string problem;
    const std::optional<std::string> keyText = keyFile                  ? KeyFromFile(*keyFile, problem)
                                               : ::isatty(STDIN_FILENO) ? KeyFromTerminal(problem)
                                                                        : KeyFromStandardInput(problem);
    if (!keyText) {
        std::fprintf(stderr, "veltrane-cli: %s\n", problem.c_str());
        return ExitUsage;
    }
    if (keyText->empty()) {
        std::fputs("veltrane-cli: the key is empty\n", stderr);
        return ExitUsage;
    }

    const bool encrypt = *command == "encrypt";
    const bool showProgress = ::isatty(STDERR_FILENO) != 0;
    veltrane::EngineUnit unit;
    unit.KeyText = veltrane::KeyBytesFromUtf8(*keyText);
    int status = ExitDone;
    for (const std::string& path : files) {
        // Unlike the window's run, a missing file does not stop the others.
        if (!veltrane::FileExists(path)) {
            Report(path, "missing");
            status = ExitSkipped;
            continue;
        }
        unit.CurrentFileName = path;
        TerminalProgress progress(path, showProgress);
        const auto pass = [&] { return veltrane::RunBlockPass(unit, &progress); };
        const auto afterPass = [&] { progress.Finish(); };
        try {
            const veltrane::FileOutcome outcome = encrypt ? veltrane::EncryptCurrentFile(unit, pass, afterPass)
                                                          : veltrane::DecryptCurrentFile(unit, pass, afterPass);
            progress.Finish();
            Report(path, OutcomeWords(outcome));
            if (outcome != veltrane::FileOutcome::Encrypted && outcome != veltrane::FileOutcome::Decrypted)
                status = ExitSkipped;
        } catch (const veltrane::EngineError& error) {
            progress.Finish();
            Report(path, std::string("failed: ") + error.what());
            status = ExitSkipped;
        }
    }
    return status;
}

} // namespace

int main(int argc, char** argv) {
    // A write that would pass a file-size limit then fails with EFBIG, which the engine undoes,
    // instead of the signal ending the tool half-way through a file.
    std::signal(SIGXFSZ, SIG_IGN);
    try {
        return Run(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "veltrane-cli: %s\n", error.what());
        return ExitSkipped;
    }
}
