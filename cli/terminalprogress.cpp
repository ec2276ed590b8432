#include "cli/terminalprogress.h"

#include <algorithm>
#include <cstdio>

#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// Files shorter than this come and go without a bar flickering past.
constexpr auto Moment = std::chrono::milliseconds(500);

int TerminalWidth() {
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col >= 20)
        return size.ws_col;
    return 80;
}

} // namespace

TerminalProgress::TerminalProgress(std::string label, bool enabled) : Label(std::move(label)), Enabled(enabled) {}

TerminalProgress::~TerminalProgress() {
    Finish();
}

void TerminalProgress::MakeVisible() {
    Started = std::chrono::steady_clock::now();
}

void TerminalProgress::SetProgress(int figure) {
    if (!Enabled)
        return;
    const int percent = std::clamp(figure, 0, 100);
    if (percent == Shown)
        return;
    if (!Drawn && std::chrono::steady_clock::now() - Started < Moment)
        return;
    Draw(percent);
}

void TerminalProgress::Draw(int percent) {
    const int width = TerminalWidth();
    constexpr int barWidth = 30;
    // "label [#####.....] 100%": keep the whole line one column short of the edge.
    const int labelRoom = std::max(0, width - barWidth - 9);
    std::string label = Label;
    if (static_cast<int>(label.size()) > labelRoom)
        label = "..." + label.substr(label.size() - static_cast<std::size_t>(std::max(0, labelRoom - 3)));
    const int filled = percent * barWidth / 100;
    std::string line = "\r" + label + " [" + std::string(static_cast<std::size_t>(filled), '#') +
                       std::string(static_cast<std::size_t>(barWidth - filled), '.') + "] ";
    std::fprintf(stderr, "%s%3d%%", line.c_str(), percent);
    std::fflush(stderr);
    Drawn = true;
    Shown = percent;
}

void TerminalProgress::Finish() {
    if (!Drawn)
        return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    Drawn = false;
    Shown = -1;
}
