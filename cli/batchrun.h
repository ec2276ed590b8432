#pragma once
// One run of the tool over its files: up to `jobs` files processed at once, each worker with its own
// engine state, and the outcomes reported in the order of the walk whatever order they finish in.
// Two names of one file (the same name twice, hard links, a link and its target) are processed one
// after the other, in that order, so that the outcome does not depend on the number of workers.
//
// Nothing that goes wrong with one file ends the run while another is part-way: every failure of a
// file, of whatever kind, is that file's outcome. Fewer workers than asked for can be made where the
// process may have no more threads; where none can, the run's own thread processes the files.

#include "cli/commandline.h"
#include "cli/filewalk.h"
#include "cli/keyinput.h"
#include "cli/outcomereport.h"
#include "cli/terminalprogress.h"
#include "engine/secretmemory.h"

#include "engine/engineunit.h"

#include <functional>

namespace veltrane {

class BatchRun {
public:
    struct Settings {
        ToolCommand Command = ToolCommand::Encrypt; // or Decrypt
        int Jobs = 1;
        bool Sync = true;
        KeyFileIdentity KeyFile;
        // Runs on each engine unit once it is set up, before its first file (tests give it a fault hook).
        std::function<void(EngineUnit&)> SetUpUnit;
    };

    // `key` is the run's key bytes; they are wiped when the run is over.
    BatchRun(const Settings& settings, SecretBytes& key, OutcomeReport& report, TerminalProgress& progress)
        : m_settings(settings), m_key(key), m_report(report), m_progress(progress) {}

    // Processes and reports every entry of the walk. Under a InterruptionGuard, a signal
    // that asks to stop ends the run early: the engine puts the files in hand back as they were
    // (they are reported as failed, saying so), no further file is begun, and Run returns true.
    bool Run(FileWalk& walk);

    // Workers the last run had.
    int workers() const { return m_workers; }

private:
    Settings m_settings;
    SecretBytes& m_key;
    OutcomeReport& m_report;
    TerminalProgress& m_progress;
    int m_workers = 0;
};

} // namespace veltrane
