#include "cli/commandline.h"

#include "cli/terminaltext.h"

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
                       inside it, in name order; symbolic links inside folders are not followed,
                       not even one swapped in for a file or folder after it was listed
  -j, --jobs=N         process up to N files at once (default: four per processor, as a file
                       spends most of its time waiting for the disk; with --no-sync, one per
                       processor); -j 1 processes them strictly one after another
  -q, --quiet          print nothing but problems
      --no-sync        do not wait for the disk at each step: faster, for scratch data only, since
                       a power cut or a crash of the system part-way through a file may then leave
                       it neither plain nor encrypted
  -h, --help           show this help and exit
  -V, --version        show the version and exit
  --                   end of the options: every argument after it is a FILE

The key:
  On a terminal it is asked for without echo: "Key: ", and "Verify: " when encrypting (decryption
  refuses a mistyped key by itself). Otherwise it is the first line of standard input, or of the key
  file, without its line end. Key text is read as UTF-8 and gives the same key as the same text typed
  into the window program; text that is not UTF-8 is used byte for byte. Only the first 256 key
  bytes count. A key that is empty, longer than 1 MiB, or holds control characters other than tabs
  is refused, and so is a key file (or standard input) that is a device other than a terminal. The
  key file (or a file given as standard input) is never processed itself.

Output, one line per file on standard output, in the order of the arguments:
  FILE: encrypted
  FILE: decrypted
  FILE: skipped: already encrypted
  FILE: skipped: not an encrypted file
  FILE: skipped: invalid key
  FILE: skipped: cannot be opened (REASON)
  FILE: skipped: is a folder                 (a folder given without -r)
  FILE: skipped: is the key file
  FILE: skipped: is a symbolic link          (found in a folder)
  FILE: skipped: not a regular file          (found in a folder)
  FILE: skipped: cannot read the folder (REASON)
  FILE: missing                              (not there, not a regular file, or dated before
                                              1980 or after 2107)
  FILE: failed: REASON
  FILE: interrupted; the file was left unchanged   (see below)
A file that fails is left as it was, unless REASON says otherwise. In names, control characters,
backslashes and bytes that are not text are written as escapes (\n, \033, \\, \377). Every line
but "encrypted" and "decrypted" is a problem; problems also go to standard error when standard
output is not a terminal. A progress bar shows on standard error when it is a terminal and a file
takes more than a moment.

Exit status:
  0  every file was encrypted or decrypted
  1  any file was skipped, missing or failed
  2  usage error, or the key was refused
  3  the output could not be written in full (a closed pipe, a full disk); the files were processed
     all the same, and this status takes the place of 0 or 1
Interrupted (Ctrl-C, Ctrl-\, a hang-up or a termination request), it puts the files in hand back as
they were, reports each as "FILE: interrupted; the file was left unchanged", begins no other, and
ends as interrupted.

Killed or crashed part-way through a file, or stopped by a power cut, it leaves the file carrying a
small record at its end of how far it got (a few KiB; no key, no plain text), which the next encrypt
or decrypt of that file with the same key uses, wherever the file is by then: encrypt then gives the
whole file encrypted, decrypt the whole file plain, and the line says what it found, for example
  FILE: encrypted (finished an interrupted encryption)
  FILE: decrypted (undid an interrupted encryption)
The same with "an interrupted decryption". A wrong key changes nothing. A file whose bytes were
changed by another program since is left alone with a message.

  status [FILE]...   tells, for each FILE, whether it was left part-way: "FILE: interrupted while
                     encrypting (at N%)", "... decrypting ...", or "FILE: not interrupted"; without
                     a FILE, every file that commands noted (under $XDG_STATE_HOME/veltrane, by
                     default ~/.local/state/veltrane) and that is still part-way. Exit status 1 when
                     any was, 0 when none was.
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

std::string CommandLine::VersionText() {
    return "veltrane-cli (Veltrane Encryption) " VELTRANE_VERSION "\n"
           "Copyright (c) The Veltrane Encryption authors. MIT licence.\n";
}

CommandLine CommandLine::Parse(int argc, char** argv) {
    static const option longOptions[] = {
        {"key-file", required_argument, nullptr, 'k'},
        {"recursive", no_argument, nullptr, 'r'},
        {"jobs", required_argument, nullptr, 'j'},
        {"quiet", no_argument, nullptr, 'q'},
        {"no-sync", no_argument, nullptr, 'S'},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},
        {nullptr, 0, nullptr, 0},
    };
    CommandLine line;
    bool jobsGiven = false;
    bool help = false;
    bool version = false;
    // The leading colon: missing arguments come back as ':' and no message is printed for us.
    ::opterr = 0;
    ::optind = 0;
    int option = 0;
    while ((option = ::getopt_long(argc, argv, ":k:rj:qhV", longOptions, nullptr)) != -1) {
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
        case ':':
            return Refused(EscapedName(OptionName(given)) + " needs a value");
        default:
            return Refused("unknown option '" + EscapedName(OptionName(given)) + "'");
        }
    }
    // Waiting for the disk, files are best overlapped: the system writes several files' data at once.
    if (!jobsGiven)
        line.Jobs = std::min(ProcessorCount() * (line.Sync ? 4 : 1), MostJobs);
    if (help || version) {
        line.Requested = help ? Action::ShowHelp : Action::ShowVersion;
        return line;
    }
    if (::optind >= argc)
        return Refused("say encrypt, decrypt or status");
    const std::string_view command = argv[::optind];
    if (command != "encrypt" && command != "decrypt" && command != "status")
        return Refused("unknown command '" + EscapedName(command) + "'");
    line.Encrypt = command == "encrypt";
    for (int n = ::optind + 1; n < argc; ++n)
        line.Files.emplace_back(argv[n]);
    if (command != "status" && line.Files.empty())
        return Refused("no files given");
    line.Requested = command == "status" ? Action::ShowStatus : Action::Run;
    return line;
}

} // namespace veltrane
