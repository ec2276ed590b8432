#pragma once
// One run of the tool over its files: up to `jobs` files processed at once, each worker with its own
// engine state, and the outcomes reported in the order of the walk whatever order they finish in.
// Two names of one file (the same name twice, hard links, a link and its target) are processed one
// after the other, in that order, so that the outcome does not depend on the number of workers.
// Ctrl-C lets the files in hand be finished before the tool ends; a second one ends it at once.

#include "cli/filewalk.h"
#include "cli/keyinput.h"
#include "cli/outcomereport.h"
#include "cli/terminalprogress.h"

#include <cstdint>
#include <vector>

class BatchRun {
public:
    struct Settings {
        bool Encrypt = true;
        int Jobs = 1;
        KeyFileIdentity KeyFile;
    };

    // `key` is the run's key bytes; they are wiped when the run is over.
    BatchRun(const Settings& settings, std::vector<std::uint8_t>& key, OutcomeReport& report,
             TerminalProgress& progress);

    // Processes and reports every entry of the walk. Returns 0, or the signal (SIGINT, SIGTERM,
    // SIGHUP) that stopped the run: the files in hand were then finished and reported, and no
    // further file was begun.
    int Run(FileWalk& walk);

private:
    Settings m_settings;
    std::vector<std::uint8_t>& m_key;
    OutcomeReport& m_report;
    TerminalProgress& m_progress;
};
