#include "cli/terminalprogress.h"

#include "cli/terminaltext.h"

#include <algorithm>
#include <cstdio>

#include <sys/ioctl.h>
#include <unistd.h>

namespace veltrane {

namespace {

int TerminalWidth() {
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col >= 20)
        return size.ws_col;
    return 80;
}

} // namespace

TerminalProgress::TerminalProgress(bool enabled) : m_enabled(enabled) {}

TerminalProgress::~TerminalProgress() {
    Clear();
}

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
    const std::string line = "\r" + Line(label, percent, TerminalWidth()) + "\033[K";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    m_drawn = true;
    m_shownLabel = label;
    m_shownPercent = percent;
}

void TerminalProgress::Clear() {
    if (!m_drawn)
        return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    m_drawn = false;
    m_shownPercent = -1;
}

} // namespace veltrane
