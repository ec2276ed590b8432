#include "cli/keyinput.h"

#include "engine/secretmemory.h"

#include "cli/keyline.h"
#include "cli/terminaltext.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace veltrane {

namespace {

// What a prompt's signal handlers need: the terminal settings to put back, and whether the prompt is
// showing (echo off) and with which text.
termios SavedTerminal{};
termios QuietTerminal{};
volatile std::sig_atomic_t EchoOff = 0;
const char* volatile ShownPrompt = nullptr;

// The signals that put echo back before they act (see RestoreEchoAndRaise).
constexpr std::array EchoSignals{SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};

void Install(int signalNumber, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    // The prompt's read carries on after a suspend and resume.
    action.sa_flags = SA_RESTART;
    ::sigaction(signalNumber, &action, nullptr);
}

// Puts echo back, then lets the signal act as usual. For Ctrl-Z that gives the shell its terminal
// back with echo on before the stop (the signal stays blocked until this handler returns, and then
// stops the process).
void RestoreEchoAndRaise(int signalNumber) {
    if (EchoOff)
        ::tcsetattr(STDIN_FILENO, TCSANOW, &SavedTerminal);
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);
}

// Back in the foreground: echo off again and the prompt shown afresh (the terminal dropped what had
// been typed when it sent the stop).
void QuietAgain(int) {
    if (!EchoOff)
        return;
    const int saved = errno;
    Install(SIGTSTP, RestoreEchoAndRaise);
    ::tcsetattr(STDIN_FILENO, TCSANOW, &QuietTerminal);
    if (const char* prompt = ShownPrompt)
        (void)!::write(STDERR_FILENO, prompt, std::strlen(prompt));
    errno = saved;
}

// A read buffer that is wiped when it goes, since it held key bytes.
struct ReadBuffer {
    static constexpr std::size_t Size = 65536;
    std::unique_ptr<char[]> Bytes = std::make_unique<char[]>(Size);
    ~ReadBuffer() { ::explicit_bzero(Bytes.get(), Size); }
};

// Reads `line` from `fd` in large reads until its line end, the end of input or a refusal. False
// on a read error, with errno set.
bool ReadLine(int fd, KeyLine& line) {
    ReadBuffer buffer;
    while (line.state() == KeyLine::State::Reading) {
        const ssize_t got = ::read(fd, buffer.Bytes.get(), ReadBuffer::Size);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (got == 0) {
            line.Finish();
            break;
        }
        line.Feed(std::span<const char>(buffer.Bytes.get(), static_cast<std::size_t>(got)));
    }
    return true;
}

// The key of a completed line, or nothing with `problem` saying why it is refused. `source` names
// where it came from, for the message.
std::optional<SecretBytes> KeyOf(const KeyLine& line, const std::string& source, std::string& problem) {
    switch (line.state()) {
    case KeyLine::State::TooLong:
        problem = "the key in " + source + " is longer than 1 MiB, or has no line end within it";
        return std::nullopt;
    case KeyLine::State::NotText:
        problem = "the key in " + source + " is not text (it holds control characters)";
        return std::nullopt;
    case KeyLine::State::Reading:
    case KeyLine::State::Complete:
        break;
    }
    if (line.length() == 0) {
        problem = "the key is empty";
        return std::nullopt;
    }
    return line.KeyBytes();
}

std::optional<SecretBytes> Prompted(const char* prompt, std::string& problem) {
    ShownPrompt = prompt;
    (void)!::write(STDERR_FILENO, prompt, std::strlen(prompt));
    KeyLine line;
    const bool ok = ReadLine(STDIN_FILENO, line);
    const int error = errno;
    ShownPrompt = nullptr;
    // The Enter key was not echoed either.
    (void)!::write(STDERR_FILENO, "\n", 1);
    if (!ok) {
        problem = std::string("cannot read the key: ") + std::strerror(error);
        return std::nullopt;
    }
    if (line.nothingRead()) {
        problem = "no key was typed";
        return std::nullopt;
    }
    return KeyOf(line, "what was typed", problem);
}

// Notes the file the key comes from, so that the batch leaves it alone. False for a device other
// than a terminal: /dev/urandom or /dev/zero given by mistake would make a key nobody has (the
// first line of random bytes is text often enough to pass for one).
bool Examine(int fd, const std::string& source, KeyFileIdentity& identity, std::string& problem) {
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        return true;
    if (S_ISCHR(status.st_mode) && ::isatty(fd) == 0) {
        problem = source + " is a device, not a file with a key in it";
        return false;
    }
    if (S_ISREG(status.st_mode)) {
        identity.Known = true;
        identity.Device = status.st_dev;
        identity.Inode = status.st_ino;
    }
    return true;
}

} // namespace

std::optional<SecretBytes> KeyFromTerminal(bool verify, std::string& problem) {
    if (::tcgetattr(STDIN_FILENO, &SavedTerminal) != 0) {
        problem = std::string("cannot use the terminal: ") + std::strerror(errno);
        return std::nullopt;
    }
    QuietTerminal = SavedTerminal;
    QuietTerminal.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    for (int signalNumber : EchoSignals)
        Install(signalNumber, RestoreEchoAndRaise);
    Install(SIGCONT, QuietAgain);
    EchoOff = 1;
    ::tcsetattr(STDIN_FILENO, TCSANOW, &QuietTerminal);

    std::optional<SecretBytes> key = Prompted("Key: ", problem);
    std::optional<SecretBytes> again;
    if (key && verify)
        again = Prompted("Verify: ", problem);

    ::tcsetattr(STDIN_FILENO, TCSANOW, &SavedTerminal);
    EchoOff = 0;
    for (int signalNumber : EchoSignals)
        ::signal(signalNumber, SIG_DFL);
    ::signal(SIGCONT, SIG_DFL);

    // Both are wiped as they go, being secret memory.
    if (!key || (verify && !again))
        return std::nullopt;
    // Two lines that give the same key open the same files: that is what must agree.
    if (verify && *key != *again) {
        problem = "the key and its verification differ";
        return std::nullopt;
    }
    return key;
}

std::optional<SecretBytes> KeyFromStandardInput(std::string& problem, KeyFileIdentity& identity) {
    if (!Examine(STDIN_FILENO, "standard input", identity, problem))
        return std::nullopt;
    KeyLine line;
    if (!ReadLine(STDIN_FILENO, line)) {
        problem = std::string("cannot read the key from standard input: ") + std::strerror(errno);
        return std::nullopt;
    }
    return KeyOf(line, "standard input", problem);
}

std::optional<SecretBytes> KeyFromFile(const std::string& path, std::string& problem, KeyFileIdentity& identity) {
    const std::string source = "the key file \"" + EscapedName(path) + "\"";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        problem = "cannot read " + source + ": " + std::strerror(errno);
        return std::nullopt;
    }
    if (!Examine(fd, source, identity, problem)) {
        ::close(fd);
        return std::nullopt;
    }
    KeyLine line;
    const bool ok = ReadLine(fd, line);
    const int error = errno;
    ::close(fd);
    if (!ok) {
        problem = "cannot read " + source + ": " + std::strerror(error);
        return std::nullopt;
    }
    return KeyOf(line, source, problem);
}

} // namespace veltrane
