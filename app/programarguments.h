#pragma once
// What the program answers from its command line before it reaches the window system: --version
// and --help, a missing display, and a window system the toolkit has no support for here, each of
// which would otherwise end in the toolkit's abort. And which arguments name files to load.

#include <optional>
#include <string>
#include <vector>

namespace veltrane {

// The exit status when the program must end here (after printing its one line or its help), or
// nothing when it goes on to show its window. `pluginFolders` are the folders where the toolkit looks for its
// window-system plugins.
std::optional<int> AnswerBeforeWindows(int argc, char** argv, const std::vector<std::string>& pluginFolders);

// The count of arguments the toolkit may read: those before a "--" (everything after it names a
// file, whatever it looks like).
int ToolkitArgumentCount(int argc, char** argv);

// The arguments after a "--", taken before the toolkit reads the others.
std::vector<std::string> ArgumentsAfterDashes(int argc, char** argv);

// The files named on the command line once the toolkit has taken its own options out of its
// `toolkitArgc` arguments: those left there, then `afterDashes`. Relative names are made absolute
// against `workingFolder`; names stay the bytes they are. Nothing when an argument left before "--"
// is an option nobody knows; `unknown` then holds it.
std::optional<std::vector<std::string>> FileArguments(int toolkitArgc, char** toolkitArgv,
                                                      const std::vector<std::string>& afterDashes,
                                                      const std::string& workingFolder, std::string& unknown);

} // namespace veltrane
