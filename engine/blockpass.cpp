#include "engine/blockpass.h"

#include "engine/engineerror.h"
#include "engine/interruption.h"
#include "engine/partwaystate.h"
#include "engine/partwaywrite.h"
#include "engine/recovery.h"
#include "engine/zonedpass.h"

#include <climits>
#include <cmath>
#include <string>

namespace veltrane {

namespace {

std::string PartWay() {
    return "; the file is left part-way, and the next command on it with the same key finishes or undoes it";
}

// Puts the file back as it was before the command; returns the words that say how it was left.
std::string Restore(EngineUnit& unit, bool& partWay) {
    if (unit.Completed)
        return "; the file holds the whole result, but the disk did not confirm that it is stored";
    bool changed = false;
    try {
        changed = UndoFromFileState(unit, false);
    } catch (const EngineError& failure) {
        partWay = true;
        return "; restoring it failed too (" + failure.reason() + ")" + PartWay();
    } catch (...) {
        // Memory that ran out on the way, say: the file keeps its state for the next command.
        partWay = true;
        return "; restoring it failed too" + PartWay();
    }
    partWay = false;
    if (!changed) {
        // Nothing was written: give back the room reserved for the command.
        unit.CurrentFile.Deallocate(unit.Holes);
        const PartwayState& state = unit.Partway;
        unit.CurrentFile.ReleaseAfterEnd(LayoutOf(state.Body, state.AreaSize).End - state.Body);
        return "; the file was left unchanged";
    }
    return "; the file was restored";
}

// Another program added to the end of the file, past the state: the body is put back and the state
// blanked where it lies, so that no later command takes the file for one part-way through a command;
// nothing is cut, since what was added is not this command's to remove.
std::string RestoreBeforeAdded(EngineUnit& unit, bool& partWay) {
    if (!unit.Keeping)
        return "; none of its bytes had been changed";
    std::int64_t added = 0;
    try {
        added = UndoBeforeAdded(unit);
    } catch (const EngineError& failure) {
        partWay = true;
        return "; putting it back failed too (" + failure.reason() + "), so the file is left as it is now";
    }
    partWay = false;
    if (added == 0)
        return "; none of its bytes had been changed";
    return "; its own bytes were put back, but the " + std::to_string(added) + " bytes this program had added after "
           "byte " + std::to_string(unit.Partway.Body) + " (blanked) are still there, before what was added";
}

std::string LeftAsItIs(EngineUnit& unit, bool& partWay) {
    partWay = unit.Keeping;
    if (!unit.Keeping)
        return "; it was not written further, and none of its bytes had been changed";
    return "; it was not written further, so the file is left as it is now";
}

// Another program wrote to the file part-way through the command: nothing of the file is written
// further but the state, which says so, so that a later command finishes the file around what that
// program wrote and does not take its bytes for the command's own.
std::string LeftToOtherWriter(EngineUnit& unit, bool& partWay) {
    if (!unit.Keeping)
        return LeftAsItIs(unit, partWay);
    partWay = true;
    PartwayState& state = unit.Partway;
    state.Foreign = true;
    state.Sequence += 1;
    try {
        WriteState(unit.CurrentFile, state);
    } catch (const EngineError&) {
        return "; it was not written further, so the file is left as it is now";
    }
    const char* command = state.Command == PartwayCommand::Encrypt ? "Encrypt" : "Decrypt";
    return std::string("; it was not written further, so the file is left part-way: ") + command +
           " with the same key finishes it, leaving what the other program wrote as it is";
}

} // namespace

int ProgressFigure(std::int64_t blockCount, std::int64_t fileLength) {
    // Nothing to transform counts as done.
    if (fileLength <= 0)
        return 100;
    const double figure = static_cast<double>(blockCount * static_cast<std::int64_t>(BlockSize)) /
                          static_cast<double>(fileLength) * 100.0;
    // Exact halves go to the even neighbour, independent of the floating-point rounding mode.
    double whole = std::floor(figure);
    const double fraction = figure - whole;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0))
        whole += 1.0;
    return whole >= static_cast<double>(INT_MAX) ? INT_MAX : static_cast<int>(whole);
}

void UndoAndRethrow(EngineUnit& unit, bool& partWay) {
    try {
        throw;
    } catch (const FileChangedError& changed) {
        std::string left;
        switch (changed.change()) {
        case FileChange::Renamed:
        case FileChange::Replaced:
            left = Restore(unit, partWay);
            break;
        case FileChange::Longer:
            left = RestoreBeforeAdded(unit, partWay);
            break;
        case FileChange::Rewritten:
            left = LeftToOtherWriter(unit, partWay);
            break;
        default:
            left = LeftAsItIs(unit, partWay);
            break;
        }
        throw FileChangedError(changed.what() + left, changed.reason(), changed.change());
    } catch (const InterruptedError& interrupted) {
        const std::string left = Restore(unit, partWay);
        throw InterruptedError(interrupted.what() + left, interrupted.reason());
    } catch (const EngineError& error) {
        const std::string left = Restore(unit, partWay);
        throw EngineError(error.what() + left, error.reason());
    } catch (...) {
        Restore(unit, partWay);
        throw;
    }
}

bool RunBlockPass(EngineUnit& unit, ProgressDisplay* display) {
    CurrentFileHandle& file = unit.CurrentFile;
    if (!file.isOpen())
        return false;
    if (display)
        display->MakeVisible();
    const PartwayState& state = unit.Partway;
    unit.FileLength = state.Body;
    unit.BlockCount = state.High / static_cast<std::int64_t>(BlockSize);
    unit.WrittenEnd = state.High;
    file.CheckUnchanged(true);
    TransformZones(unit, state.High, state.Body, display);
    if (state.Body == 0) {
        unit.BlockCount = 1;
        if (display)
            display->SetProgress(ProgressFigure(unit.BlockCount, unit.FileLength));
    }
    file.Remember();
    return true;
}

} // namespace veltrane
