#pragma once
// What the program answers from its command line before it reaches the window system: --version
// and --help, and a missing display, which would otherwise end in the window system's abort.

#include <optional>

namespace veltrane {

// The exit status when the program must end here (after printing its one line or its help), or
// nothing when it goes on to show its window.
std::optional<int> AnswerBeforeWindows(int argc, char** argv);

} // namespace veltrane
