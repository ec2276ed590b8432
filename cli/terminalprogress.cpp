#include "cli/terminalprogress.h"

#include "cli/terminaltext.h"

#include <algorithm>
#include <cstdio>

#include <sys/ioctl.h>

namespace veltrane {

namespace {

int TerminalWidth(int fd) {
    winsize size{};
    if (::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col >= 20)
        return size.ws_col;
    return 80;
}

} // namespace

std::string TerminalProgress::Line(const std::string& label, int percent, int columns) {
    percent = std::clamp(percent, 0, 100);
    // "label [#####.....] 100%": the whole line one column short of the edge, so that the terminal
    // never wraps it; the bar gives up columns to the name on a narrow terminal.
    const int room = columns - 1;
    const int barWidth = std::clamp((room - 8) / 2, 5, 30);
    const int labelRoom = std::max(0, room - barWidth - 8);
    const int filled = percent * barWidth / 100;
    char figure[8];
    std::snprintf(figure, sizeof figure, "%3d%%", percent);
    return FitToColumns(label, labelRoom) + " [" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(barWidth - filled), '.') + "] " + figure;
}

void TerminalProgress::Show(const std::string& label, int percent) {
    if (!m_enabled || (m_drawn && percent == m_shownPercent && label == m_shownLabel))
        return;
    const int columns = TerminalWidth(m_output.fd(ToolOutput::Stream::Errors));
    m_output.Write(ToolOutput::Stream::Errors, "\r" + Line(label, percent, columns) + "\033[K");
    m_drawn = true;
    m_shownLabel = label;
    m_shownPercent = percent;
}

void TerminalProgress::Clear() {
    if (!m_drawn)
        return;
    m_output.Write(ToolOutput::Stream::Errors, "\r\033[K");
    m_drawn = false;
    m_shownPercent = -1;
}

} // namespace veltrane
