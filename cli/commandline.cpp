#include "cli/commandline.h"

#include "cli/terminaltext.h"
#include "engine/keystream.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string_view>

#include <getopt.h>
#include <sched.h>

namespace veltrane {

namespace {

constexpr int MostJobs = 256;

constexpr const char* Help = R"HELP(Usage: veltrane-cli encrypt [OPTION]... FILE...
       veltrane-cli decrypt [OPTION]... FILE...
       veltrane-cli status [FILE]...
Encrypts or decrypts each FILE in place, in the file format of Veltrane Encryption: the file is
enciphered byte for byte and ends in a 20-byte trailer that lets decryption check the key.

Options:
  -k, --key-file=PATH  take the key from the first line of PATH
  -r, --recursive      also process the files in each FILE that is a folder, and in the folders
                       inside it, in name order; symbolic links inside folders are not followed
  -j, --jobs=N         process up to N files at once (default: four per processor, or one per
                       processor with --no-sync); -j 1 processes them strictly one after another
  -q, --quiet          print nothing but problems
      --no-sync        do not wait for the disk at each step: faster, for scratch data only (a
                       power cut part-way may leave a file neither plain nor encrypted)
  -h, --help           show this help and exit
  -V, --version        show the version and exit
      --verbose        with --version, also name the keystream kernel in use here and why
  --                   end of the options: every argument after it is a FILE

The key is asked for on a terminal without echo ("Key: ", and "Verify: " when encrypting), or else
is the first line of standard input or of the key file. Only its first 256 bytes count; one that is
empty, longer than 1 MiB or holds control characters other than tabs is refused.

Output, one line per file on standard output, in the order of the arguments:
  FILE: encrypted
  FILE: decrypted
  FILE: encrypted (finished an interrupted encryption)
  FILE: encrypted (undid an interrupted decryption)
  FILE: decrypted (finished an interrupted decryption)
  FILE: decrypted (undid an interrupted encryption)
  FILE: skipped: already encrypted
  FILE: skipped: not an encrypted file
  FILE: skipped: invalid key
  FILE: skipped: cannot be opened (REASON)
  FILE: skipped: is a folder                 (a folder given without -r)
  FILE: skipped: is the key file
  FILE: skipped: is a symbolic link          (found in a folder)
  FILE: skipped: not a regular file          (found in a folder)
  FILE: skipped: cannot read the folder (REASON)
  FILE: missing                              (not there, or not a regular file)
  FILE: failed: REASON
  FILE: interrupted; the file was left unchanged
  FILE: interrupted: REASON                  (the file could not be put back)
Brackets after "encrypted" or "decrypted" tell what was done about a command on the file that was
killed or cut off part-way. Every other line is a problem, and also goes to standard error when
standard output is not a terminal.

Exit status:
  0  every file was encrypted or decrypted
  1  any file was skipped, missing or failed
  2  usage error, or the key was refused
  3  the output could not be written in full; the files were processed all the same
Interrupted (Ctrl-C, Ctrl-\, a hang-up or a termination request), it puts the files in hand back as
they were, begins no other, and ends as interrupted.

"status" tells whether each FILE (without one: any file that commands noted) was left part-way,
"FILE: interrupted while encrypting (at N%)" or "FILE: not interrupted"; exit status 1 if any was.

See veltrane-cli(1) for more.
)HELP";

int ProcessorCount() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return CPU_COUNT(&set);
    return 1;
}

// The option as the user spelt it: a long one without its value, a short one alone (out of a group
// such as -rq).
std::string OptionName(const std::string& given) {
    if (given.starts_with("--"))
        return given.substr(0, given.find('='));
    return ::optopt != 0 ? std::string("-") + static_cast<char>(::optopt) : given;
}

CommandLine Refused(std::string problem) {
    CommandLine line;
    line.Requested = CommandLine::Action::Refuse;
    line.Problem = std::move(problem);
    return line;
}

} // namespace

const char* CommandLine::HelpText() {
    return Help;
}

std::string CommandLine::VersionText(bool verbose) {
    std::string text = "veltrane-cli (Veltrane Encryption) " VELTRANE_VERSION "\n"
                       "Copyright (c) The Veltrane Encryption authors. MIT licence.\n";
    if (verbose)
        text +=
            "Keystream source: " + KeystreamSourceRuleInUse() + "\nKeystream kernel: " + KeystreamKernelInUse() + "\n";
    return text;
}

const option CommandLine::LongOptions[] = {
    {"key-file", required_argument, nullptr, 'k'}, {"recursive", no_argument, nullptr, 'r'},
    {"jobs", required_argument, nullptr, 'j'},     {"quiet", no_argument, nullptr, 'q'},
    {"no-sync", no_argument, nullptr, 'S'},        {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},        {"verbose", no_argument, nullptr, 'B'},
    {nullptr, 0, nullptr, 0},
};

// Waiting for the disk, files are best overlapped: the system writes several files' data at once.
int CommandLine::DefaultJobs(bool sync) {
    return std::min(ProcessorCount() * (sync ? 4 : 1), MostJobs);
}

std::string_view CommandLine::NameOf(ToolCommand command) {
    return std::ranges::find(Commands, command, &CommandEntry::Command)->Name;
}

CommandLine CommandLine::Parse(int argc, char** argv) {
    CommandLine line;
    bool jobsGiven = false;
    bool help = false;
    bool version = false;
    // The leading colon: missing arguments come back as ':' and no message is printed for us.
    ::opterr = 0;
    ::optind = 0;
    int option = 0;
    while ((option = ::getopt_long(argc, argv, ":k:rj:qhV", LongOptions, nullptr)) != -1) {
        const std::string given = argv[::optind - 1];
        switch (option) {
        case 'k':
            if (*::optarg == '\0')
                return Refused("--key-file needs a path");
            line.KeyFile = ::optarg;
            break;
        case 'r':
            line.Recursive = true;
            break;
        case 'j': {
            char* end = nullptr;
            errno = 0;
            const long jobs = std::strtol(::optarg, &end, 10);
            if (errno != 0 || end == ::optarg || *end != '\0' || jobs < 1 || jobs > MostJobs)
                return Refused("--jobs needs a whole number from 1 to " + std::to_string(MostJobs) + ", not '" +
                               EscapedName(::optarg) + "'");
            line.Jobs = static_cast<int>(jobs);
            jobsGiven = true;
            break;
        }
        case 'q':
            line.Quiet = true;
            break;
        case 'S':
            line.Sync = false;
            break;
        case 'h':
            help = true;
            break;
        case 'V':
            version = true;
            break;
        case 'B':
            line.Verbose = true;
            break;
        case ':':
            return Refused(EscapedName(OptionName(given)) + " needs a value");
        default:
            return Refused("unknown option '" + EscapedName(OptionName(given)) + "'");
        }
    }
    if (!jobsGiven)
        line.Jobs = DefaultJobs(line.Sync);
    if (help || version) {
        line.Requested = help ? Action::ShowHelp : Action::ShowVersion;
        return line;
    }
    if (::optind >= argc)
        return Refused("say encrypt, decrypt or status");
    const std::string_view name = argv[::optind];
    const auto* command = std::ranges::find(Commands, name, &CommandEntry::Name);
    if (command == std::end(Commands))
        return Refused("unknown command '" + EscapedName(name) + "'");
    line.Command = command->Command;
    line.Files.assign(argv + ::optind + 1, argv + argc);
    if (command->NeedsFiles && line.Files.empty())
        return Refused("no files given");
    line.Requested = Action::Run;
    return line;
}

} // namespace veltrane
