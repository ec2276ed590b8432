#include "app/programarguments.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace veltrane {

namespace {

constexpr const char* Help = R"(Usage: veltrane [--version | --help]
Encrypts and decrypts files in place under a key, in a window (Veltrane Encryption).
Without a display, veltrane-cli does the same from the command line (veltrane-cli --help).

  -h, --help     show this help and exit
      --version  show the version and exit
)";

bool Set(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

} // namespace

std::optional<int> AnswerBeforeWindows(int argc, char** argv) {
    bool platformGiven = false;
    for (int n = 1; n < argc; ++n) {
        const std::string_view argument = argv[n];
        if (argument == "--version") {
            std::fputs("veltrane (Veltrane Encryption) " VELTRANE_VERSION "\n"
                       "Copyright (c) The Veltrane Encryption authors. MIT licence.\n",
                       stdout);
            return 0;
        }
        if (argument == "--help" || argument == "-h") {
            std::fputs(Help, stdout);
            return 0;
        }
        // The toolkit's own choice of window system or display, as an argument.
        if (argument == "-platform" || argument == "--platform" || argument == "-display" || argument == "--display")
            platformGiven = true;
    }
    if (!platformGiven && !Set("QT_QPA_PLATFORM") && !Set("DISPLAY") && !Set("WAYLAND_DISPLAY")) {
        std::fputs("veltrane: no display to show the window on (neither DISPLAY nor WAYLAND_DISPLAY is set); "
                   "veltrane-cli encrypts and decrypts without one (veltrane-cli --help)\n",
                   stderr);
        return 1;
    }
    return std::nullopt;
}

} // namespace veltrane
