#include "cli/outcomereport.h"

#include "cli/terminaltext.h"

#include <cstdio>

#include <sys/stat.h>
#include <unistd.h>

namespace veltrane {

namespace {

// Standard output and standard error lead to the same place (2>&1): one copy of a line is enough.
bool SameDestination() {
    struct stat output {
    }, errors{};
    return ::fstat(STDOUT_FILENO, &output) == 0 && ::fstat(STDERR_FILENO, &errors) == 0 &&
           output.st_dev == errors.st_dev && output.st_ino == errors.st_ino;
}

} // namespace

OutcomeReport::OutcomeReport(bool quiet, TerminalProgress& progress)
    : m_quiet(quiet), m_problemsToErrors(::isatty(STDOUT_FILENO) == 0 && !SameDestination()), m_progress(progress) {}

void OutcomeReport::File(const std::string& path, const std::string& words, bool problem) {
    m_anyProblem = m_anyProblem || problem;
    if (m_quiet && !problem)
        return;
    const std::string line = EscapedName(path) + ": " + words + "\n";
    m_progress.Clear();
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
    if (problem && m_problemsToErrors) {
        std::fputs(("veltrane-cli: " + line).c_str(), stderr);
        std::fflush(stderr);
    }
}

} // namespace veltrane
