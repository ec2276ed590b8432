#pragma once
// A one-line progress bar on standard error, drawn only when standard error is a terminal: the name
// of the file in hand, cut to fit the line, a bar and a percentage.

#include "cli/tooloutput.h"

#include <string>

namespace veltrane {

class TerminalProgress {
public:
    // Draws on `output`'s standard error, and only when `enabled`.
    TerminalProgress(bool enabled, ToolOutput& output) : m_enabled(enabled), m_output(output) {}
    ~TerminalProgress() { Clear(); }
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;

    bool enabled() const { return m_enabled; }
    // Draws the bar for `label` (already escaped for the terminal) at `percent`, over the last one.
    void Show(const std::string& label, int percent);
    // Takes the bar off the line, so that an outcome can be printed in its place.
    void Clear();

    // The line as Show draws it on a terminal `columns` wide, without the leading carriage return.
    static std::string Line(const std::string& label, int percent, int columns);

private:
    bool m_enabled;
    ToolOutput& m_output;
    bool m_drawn = false;
    std::string m_shownLabel;
    int m_shownPercent = -1;
};

} // namespace veltrane
