#pragma once
// The tool's result lines, "NAME: WORDS", one per file: on standard output (with --quiet only the
// problems), and the problems on standard error as well when standard output is not a terminal,
// so that a redirection never hides them.

#include "cli/terminalprogress.h"
#include "cli/tooloutput.h"

#include <string>

namespace veltrane {

class OutcomeReport {
public:
    OutcomeReport(bool quiet, TerminalProgress& progress, ToolOutput& output);

    // `path` is the name as given; it is escaped here. A problem is every outcome but a file done.
    void File(const std::string& path, const std::string& words, bool problem);
    bool anyProblem() const { return m_anyProblem; }

private:
    bool m_quiet;
    bool m_problemsToErrors;
    bool m_anyProblem = false;
    TerminalProgress& m_progress;
    ToolOutput& m_output;
};

} // namespace veltrane
