#include "cli/interruptionstatus.h"

#include "cli/terminaltext.h"
#include "engine/interruptionhints.h"
#include "engine/recovery.h"

#include <sys/stat.h>

namespace veltrane {

namespace {

std::string Words(const InterruptedFile& file) {
    if (file.Legacy)
        return "left part-way by an earlier version, which cannot finish or undo it; check it against a copy";
    if (file.Damaged)
        return "left part-way, but its record of that is damaged; it cannot be finished or undone";
    const char* doing = file.Command == PartwayCommand::Encrypt ? "encrypting" : "decrypting";
    if (file.Undoing)
        return std::string("interrupted while putting it back after ") + doing + " failed (" +
               std::to_string(file.Percent) + "% to go)";
    return std::string("interrupted while ") + doing + " (at " + std::to_string(file.Percent) + "%)";
}

void Line(ToolOutput& output, const std::string& name, const std::string& words) {
    output.Write(ToolOutput::Stream::Output, EscapedName(name) + ": " + words + "\n");
}

} // namespace

int ShowInterruptionStatus(const std::vector<std::string>& files, const InterruptionHints& hints, ToolOutput& output) {
    bool any = false;
    if (files.empty()) {
        const std::vector<InterruptedFile> left = InterruptedFiles(hints);
        for (const InterruptedFile& file : left)
            Line(output, file.Path, Words(file));
        any = !left.empty();
    }
    for (const std::string& name : files) {
        struct stat status {};
        if (::stat(name.c_str(), &status) != 0) {
            Line(output, name, "missing");
            any = true;
            continue;
        }
        InterruptedFile file;
        const bool found = S_ISREG(status.st_mode) && InterruptedFileAt(name, file);
        Line(output, name, found ? Words(file) : "not interrupted");
        any = any || found;
    }
    return any ? 1 : 0;
}

} // namespace veltrane
