#include "cli/outcomereport.h"

#include "cli/terminaltext.h"

#include <sys/stat.h>
#include <unistd.h>

namespace veltrane {

namespace {

// Standard output and standard error lead to the same place (2>&1): one copy of a line is enough.
bool SameDestination(const ToolOutput& to) {
    struct stat output {
    }, errors{};
    return ::fstat(to.fd(ToolOutput::Stream::Output), &output) == 0 &&
           ::fstat(to.fd(ToolOutput::Stream::Errors), &errors) == 0 && output.st_dev == errors.st_dev &&
           output.st_ino == errors.st_ino;
}

} // namespace

OutcomeReport::OutcomeReport(bool quiet, TerminalProgress& progress, ToolOutput& output)
    : m_quiet(quiet),
      m_problemsToErrors(::isatty(output.fd(ToolOutput::Stream::Output)) == 0 && !SameDestination(output)),
      m_progress(progress), m_output(output) {}

void OutcomeReport::File(const std::string& path, const std::string& words, bool problem) {
    m_anyProblem = m_anyProblem || problem;
    if (m_quiet && !problem)
        return;
    const std::string line = EscapedName(path) + ": " + words + "\n";
    m_progress.Clear();
    m_output.Write(ToolOutput::Stream::Output, line);
    if (problem && m_problemsToErrors)
        m_output.Write(ToolOutput::Stream::Errors, "veltrane-cli: " + line);
}

} // namespace veltrane
