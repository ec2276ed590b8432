#include "cli/keyinput.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The terminal settings to put back should a signal end the program while echo is off.
termios SavedTerminal{};
volatile std::sig_atomic_t EchoOff = 0;

void RestoreEchoAndDie(int signalNumber) {
    if (EchoOff)
        ::tcsetattr(STDIN_FILENO, TCSANOW, &SavedTerminal);
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

// Reads up to the first line end (or the end of input) from `fd`, without the line end; a CR
// before the LF goes too, so that key files written on other systems work. False on a read error.
bool ReadLine(int fd, std::string& line, bool& sawAnything) {
    line.clear();
    sawAnything = false;
    char byte = 0;
    for (;;) {
        const ssize_t got = ::read(fd, &byte, 1);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (got == 0)
            break;
        sawAnything = true;
        if (byte == '\n')
            break;
        line.push_back(byte);
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return true;
}

std::optional<std::string> Prompted(const char* prompt, std::string& problem) {
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    std::string line;
    bool sawAnything = false;
    const bool ok = ReadLine(STDIN_FILENO, line, sawAnything);
    // The Enter key was not echoed either.
    std::fputs("\n", stderr);
    if (!ok) {
        problem = std::string("cannot read the key: ") + std::strerror(errno);
        return std::nullopt;
    }
    if (!sawAnything) {
        problem = "no key was typed";
        return std::nullopt;
    }
    return line;
}

} // namespace

std::optional<std::string> KeyFromTerminal(std::string& problem) {
    if (::tcgetattr(STDIN_FILENO, &SavedTerminal) != 0) {
        problem = std::string("cannot use the terminal: ") + std::strerror(errno);
        return std::nullopt;
    }
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP})
        std::signal(signalNumber, RestoreEchoAndDie);
    termios quiet = SavedTerminal;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    EchoOff = 1;
    ::tcsetattr(STDIN_FILENO, TCSANOW, &quiet);

    std::optional<std::string> key = Prompted("Key: ", problem);
    std::optional<std::string> verify;
    if (key)
        verify = Prompted("Verify: ", problem);

    ::tcsetattr(STDIN_FILENO, TCSANOW, &SavedTerminal);
    EchoOff = 0;
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP})
        std::signal(signalNumber, SIG_DFL);

    if (!key || !verify)
        return std::nullopt;
    if (*key != *verify) {
        problem = "the key and its verification differ";
        return std::nullopt;
    }
    return key;
}

std::optional<std::string> KeyFromStandardInput(std::string& problem) {
    std::string line;
    bool sawAnything = false;
    if (!ReadLine(STDIN_FILENO, line, sawAnything)) {
        problem = std::string("cannot read the key from standard input: ") + std::strerror(errno);
        return std::nullopt;
    }
    return line;
}

std::optional<std::string> KeyFromFile(const std::string& path, std::string& problem) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        problem = "cannot read the key file \"" + path + "\": " + std::strerror(errno);
        return std::nullopt;
    }
    std::string line;
    bool sawAnything = false;
    const bool ok = ReadLine(fd, line, sawAnything);
    const int error = errno;
    ::close(fd);
    if (!ok) {
        problem = "cannot read the key file \"" + path + "\": " + std::strerror(error);
        return std::nullopt;
    }
    return line;
}
