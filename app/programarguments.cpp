#include "app/programarguments.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>

#include <dirent.h>

namespace veltrane {

namespace {

constexpr const char* Help = R"(Usage: veltrane [OPTION]... [FILE]...
Encrypts and decrypts files in place under a key, in a window (Veltrane Encryption).
The FILEs are loaded into the window's list as if chosen with File > Open...; type the
key twice and press Encrypt or Decrypt. Without a display, veltrane-cli does the same
from the command line (veltrane-cli --help).

  -h, --help     show this help and exit
      --version  show the version of this build and exit
      --         every argument after it is a FILE

The version that --version shows is the version of this build, the one its package and
its release notes carry. The About window shows "Version 1.01", the program's design
text, whatever the build.
)";

bool Set(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

std::string_view Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string_view(value) : std::string_view();
}

// The toolkit's choice of window system plugins, in the order it tries them: the -platform
// argument, else QT_QPA_PLATFORM, else Wayland then X11 on a Wayland session (X11 first on GNOME),
// else X11.
std::vector<std::string> PlatformChoice(std::string_view given) {
    std::string_view choice = given;
    if (choice.empty())
        choice = Environment("QT_QPA_PLATFORM");
    if (choice.empty()) {
        const bool wayland = Set("WAYLAND_DISPLAY") || Environment("XDG_SESSION_TYPE") == "wayland";
        const auto gnome = [](std::string_view desktop) {
            return desktop.find("gnome") != std::string_view::npos || desktop.find("GNOME") != std::string_view::npos;
        };
        const bool onGnome = gnome(Environment("XDG_CURRENT_DESKTOP")) || gnome(Environment("XDG_SESSION_DESKTOP"));
        choice = !wayland ? "xcb" : onGnome ? "xcb;wayland" : "wayland;xcb";
    }
    std::vector<std::string> names;
    while (!choice.empty()) {
        const std::size_t end = choice.find(';');
        std::string_view entry = choice.substr(0, end);
        // "name:option=value" chooses the plugin by its name.
        entry = entry.substr(0, entry.find(':'));
        if (!entry.empty())
            names.emplace_back(entry);
        choice = end == std::string_view::npos ? std::string_view() : choice.substr(end + 1);
    }
    return names;
}

bool IsWayland(const std::string& name) {
    return name.starts_with("wayland");
}

// A plugin for the window system `name` lies in one of the folders: its file is named after the
// system ("libqxcb.so", "libqwayland-egl.so").
bool HasPlugin(const std::string& name, const std::vector<std::string>& folders) {
    const std::string prefix = "libq" + name;
    for (const std::string& folder : folders) {
        const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
        while (const dirent* entry = dir ? ::readdir(dir.get()) : nullptr) {
            const std::string_view file = entry->d_name;
            if (file.starts_with(prefix) && file.ends_with(".so") &&
                (file.size() == prefix.size() + 3 || file[prefix.size()] == '-' || file[prefix.size()] == '.'))
                return true;
        }
    }
    return false;
}

void SayCannotOpen(const std::vector<std::string>& names, const std::vector<std::string>& folders) {
    for (const std::string& name : names) {
        if (IsWayland(name) && !HasPlugin(name, folders)) {
            std::fputs("veltrane: the window cannot open on this Wayland desktop: the toolkit's Wayland support is "
                       "not installed; install the package qt6-wayland (sudo apt install qt6-wayland) and start "
                       "veltrane again, or use veltrane-cli (veltrane-cli --help)\n",
                       stderr);
            return;
        }
    }
    std::string list;
    for (const std::string& name : names)
        list += (list.empty() ? "" : " or ") + name;
    std::fprintf(stderr,
                 "veltrane: the window cannot open: the toolkit has no support here for the window system asked for "
                 "(%s), or no display of it to connect to; check QT_QPA_PLATFORM, -platform and DISPLAY, or use "
                 "veltrane-cli (veltrane-cli --help)\n",
                 list.c_str());
}

} // namespace

std::optional<int> AnswerBeforeWindows(int argc, char** argv, const std::vector<std::string>& pluginFolders) {
    bool displayGiven = false;
    std::string_view platform;
    for (int n = 1; n < argc; ++n) {
        const std::string_view argument = argv[n];
        if (argument == "--")
            break;
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
        if ((argument == "-platform" || argument == "--platform") && n + 1 < argc)
            platform = argv[n + 1];
        if (argument == "-display" || argument == "--display")
            displayGiven = true;
    }
    if (platform.empty() && !displayGiven && !Set("QT_QPA_PLATFORM") && !Set("DISPLAY") && !Set("WAYLAND_DISPLAY")) {
        std::fputs("veltrane: no display to show the window on (neither DISPLAY nor WAYLAND_DISPLAY is set); "
                   "veltrane-cli encrypts and decrypts without one (veltrane-cli --help)\n",
                   stderr);
        return 1;
    }
    // The toolkit goes down its list to the first plugin that connects; where none could, it aborts.
    const std::vector<std::string> names = PlatformChoice(platform);
    for (const std::string& name : names) {
        const bool reachable = name == "xcb" ? displayGiven || Set("DISPLAY")
                               : IsWayland(name)
                                   ? Set("WAYLAND_DISPLAY") || Environment("XDG_SESSION_TYPE") == "wayland"
                                   : true;
        if (reachable && HasPlugin(name, pluginFolders))
            return std::nullopt;
    }
    SayCannotOpen(names, pluginFolders);
    return 1;
}

int ToolkitArgumentCount(int argc, char** argv) {
    for (int n = 1; n < argc; ++n)
        if (std::string_view(argv[n]) == "--")
            return n;
    return argc;
}

std::vector<std::string> ArgumentsAfterDashes(int argc, char** argv) {
    const int dashes = ToolkitArgumentCount(argc, argv);
    return {argv + std::min(dashes + 1, argc), argv + argc};
}

std::optional<std::vector<std::string>> FileArguments(int toolkitArgc, char** toolkitArgv,
                                                      const std::vector<std::string>& afterDashes,
                                                      const std::string& workingFolder, std::string& unknown) {
    const auto absolute = [&workingFolder](std::string_view name) {
        if (name.starts_with('/'))
            return std::string(name);
        return workingFolder + (workingFolder.ends_with('/') ? "" : "/") + std::string(name);
    };
    std::vector<std::string> files;
    for (int n = 1; n < toolkitArgc; ++n) {
        const std::string_view argument = toolkitArgv[n];
        if (argument.starts_with('-')) {
            unknown = argument;
            return std::nullopt;
        }
        files.push_back(absolute(argument));
    }
    for (const std::string& argument : afterDashes)
        files.push_back(absolute(argument));
    return files;
}

} // namespace veltrane
