#pragma once
// A one-line progress bar on standard error for a file that takes more than a moment, drawn only
// when standard error is a terminal.

#include "main/engine/progressdisplay.h"

#include <chrono>
#include <string>

class TerminalProgress : public veltrane::ProgressDisplay {
public:
    TerminalProgress(std::string label, bool enabled);
    ~TerminalProgress() override;

    void MakeVisible() override;
    void SetProgress(int figure) override;
    // Takes the bar off the line, so that the file's outcome can be printed in its place.
    void Finish();

private:
    void Draw(int percent);

    std::string Label;
    bool Enabled;
    bool Drawn = false;
    int Shown = -1;
    std::chrono::steady_clock::time_point Started;
};
