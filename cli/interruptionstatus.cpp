#include "cli/interruptionstatus.h"

#include "cli/terminaltext.h"
#include "engine/progressrecord.h"
#include "engine/recovery.h"

#include <cstdio>

#include <sys/stat.h>

namespace veltrane {

namespace {

std::string Words(const InterruptedFile& file) {
    return std::string("interrupted while ") +
           (file.Command == RecordCommand::Encrypt ? "encrypting" : "decrypting") + " (at " +
           std::to_string(file.Percent) + "%)";
}

void Line(const std::string& name, const std::string& words) {
    std::fputs((EscapedName(name) + ": " + words + "\n").c_str(), stdout);
}

} // namespace

int ShowInterruptionStatus(const std::vector<std::string>& files) {
    ProgressRecord records;
    const std::vector<InterruptedFile> left = InterruptedFiles(records);
    bool any = false;
    if (files.empty()) {
        for (const InterruptedFile& file : left)
            Line(file.Path, Words(file) + (file.FoundByName ? "" : " (renamed or removed since)"));
        any = !left.empty();
    }
    for (const std::string& name : files) {
        struct stat status {};
        if (::stat(name.c_str(), &status) != 0) {
            Line(name, "missing");
            any = true;
            continue;
        }
        const InterruptedFile* found = nullptr;
        for (const InterruptedFile& file : left) {
            if (file.Device == status.st_dev && file.Inode == status.st_ino)
                found = &file;
        }
        Line(name, found ? Words(*found) : "not interrupted");
        any = any || found;
    }
    std::fflush(stdout);
    return any ? 1 : 0;
}

} // namespace veltrane
