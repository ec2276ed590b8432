#include "main/engine/blockpass.h"

#include "main/engine/engineerror.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <exception>
#include <span>

namespace veltrane {

namespace {

// Transforms bytes [0, end) of the open file once more (the cipher is its own inverse at the same
// offsets). Throws EngineError; `restored` tells how far it got.
void TransformAgain(EngineUnit& unit, std::int64_t end, std::int64_t& restored) {
    CurrentFileHandle& file = unit.CurrentFile;
    unit.BlockBuffer.resize(BlockSize);
    unit.Generator.ScheduleKey(unit.KeyText);
    file.SeekTo(0);
    while (restored < end) {
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(BlockSize, end - restored));
        const std::span<std::uint8_t> block(unit.BlockBuffer.data(), want);
        if (file.Read(block) != want)
            throw EngineError("the file has become shorter", "the file has become shorter");
        unit.Generator.XorBlock(block);
        file.CheckUnchanged(false);
        file.SeekTo(restored);
        std::size_t written = 0;
        try {
            file.Write(block, &written);
        } catch (...) {
            restored += static_cast<std::int64_t>(written);
            throw;
        }
        restored += static_cast<std::int64_t>(want);
    }
}

// Puts the file back as unit.Undo describes; returns the words that say how it was left.
std::string Restore(EngineUnit& unit) {
    CurrentFileHandle& file = unit.CurrentFile;
    const UndoPlan& plan = unit.Undo;
    std::int64_t restored = 0;
    try {
        TransformAgain(unit, plan.TransformedEnd, restored);
    } catch (const EngineError& failure) {
        std::string left =
            "; restoring it failed too (" + failure.reason() + "), so the file is left partly transformed";
        if (restored > 0)
            left += " from offset " + std::to_string(restored);
        return left + " up to offset " + std::to_string(plan.TransformedEnd);
    }
    bool cutBack = false;
    if (plan.OriginalLength >= 0) {
        try {
            cutBack = file.Size() != plan.OriginalLength;
            if (cutBack)
                file.Truncate(plan.OriginalLength);
        } catch (const EngineError& failure) {
            return "; its bytes were restored but cutting it back to " + std::to_string(plan.OriginalLength) +
                   " bytes failed too (" + failure.reason() + ")";
        }
    }
    // The pass and the undo wrote zeros where the file had holes, and the reservation took room past
    // the end: give all of it back, so that a failed command leaves the file using no more disk.
    file.Deallocate(plan.Holes);
    if (plan.ReservedAfterEnd > 0)
        file.ReleaseAfterEnd(plan.ReservedAfterEnd);
    return plan.TransformedEnd > 0 || cutBack ? "; the file was restored" : "; the file was left unchanged";
}

std::string LeftAsItIs(const UndoPlan& plan) {
    if (plan.TransformedEnd <= 0)
        return "; it was not written further, and none of its bytes had been changed";
    return "; it was not written further, so the file is left as it is now, transformed up to offset " +
           std::to_string(plan.TransformedEnd);
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

void UndoAndRethrow(EngineUnit& unit) {
    const std::exception_ptr failure = std::current_exception();
    try {
        std::rethrow_exception(failure);
    } catch (const FileChangedError& changed) {
        const std::string left = changed.mayRestore() ? Restore(unit) : LeftAsItIs(unit.Undo);
        unit.Undo = {};
        throw FileChangedError(changed.what() + left, changed.reason(), changed.change());
    } catch (const EngineError& error) {
        const std::string left = Restore(unit);
        unit.Undo = {};
        throw EngineError(error.what() + left, error.reason());
    } catch (...) {
        Restore(unit);
        unit.Undo = {};
        throw;
    }
}

bool RunBlockPass(EngineUnit& unit, ProgressDisplay* display) {
    CurrentFileHandle& file = unit.CurrentFile;
    // On its own the pass opens the file itself; within a command it works on the file as held.
    const bool onItsOwn = !file.isOpen();
    if (onItsOwn) {
        // A file that cannot be opened is neither read nor written, and the display is left alone.
        if (!file.Open())
            return false;
        unit.Undo = {};
    }
    if (display)
        display->MakeVisible();
    // The index rule (offset mod 256) relies on every block but the last being exactly this long.
    unit.BlockBuffer.resize(BlockSize);
    unit.BlockCount = 0;
    unit.FileLength = 0;
    unit.Undo.TransformedEnd = 0;

    try {
        file.CheckUnchanged(true);
        unit.FileLength = file.Size();
        unit.Generator.ScheduleKey(unit.KeyText);
        file.SeekTo(0);
        std::int64_t position = 0;
        for (;;) {
            // Asking for no more than the file holds spares the read that would only report its end.
            const auto wanted = static_cast<std::size_t>(
                std::clamp<std::int64_t>(unit.FileLength - position, 0, static_cast<std::int64_t>(BlockSize)));
            const std::size_t bytesRead = file.Read(std::span(unit.BlockBuffer.data(), wanted));
            const std::span<std::uint8_t> block(unit.BlockBuffer.data(), bytesRead);
            unit.Generator.XorBlock(block);
            ++unit.BlockCount;
            if (display)
                display->SetProgress(ProgressFigure(unit.BlockCount, unit.FileLength));
            // A file that another program cut or grew since the last block is not written further.
            file.CheckUnchanged(false);
            file.SeekTo(position);
            std::size_t written = 0;
            try {
                file.Write(block, &written);
            } catch (...) {
                unit.Undo.TransformedEnd = position + static_cast<std::int64_t>(written);
                throw;
            }
            position += static_cast<std::int64_t>(bytesRead);
            unit.Undo.TransformedEnd = position;
            if (position >= unit.FileLength || bytesRead < wanted)
                break;
        }
        file.Remember();
    } catch (...) {
        if (onItsOwn) {
            try {
                UndoAndRethrow(unit);
            } catch (...) {
                file.Close();
                throw;
            }
        }
        UndoAndRethrow(unit);
    }
    return true;
}

} // namespace veltrane
