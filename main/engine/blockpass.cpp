#include "main/engine/blockpass.h"

#include "main/engine/engineerror.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <span>

namespace veltrane {

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

bool RunBlockPass(EngineUnit& unit, ProgressDisplay* display) {
    CurrentFileHandle& file = unit.CurrentFile;
    // A file that cannot be opened is neither read nor written, and the display is left alone.
    if (!file.Open())
        return false;
    if (display)
        display->MakeVisible();
    // The index rule (offset mod 256) relies on every block but the last being exactly this long.
    unit.BlockBuffer.resize(BlockSize);
    unit.BlockCount = 0;
    unit.FileLength = 0;

    // Bytes before this offset are transformed on disk; a failure transforms them back.
    std::int64_t transformedEnd = 0;
    try {
        unit.FileLength = file.Size();
        unit.Generator.ScheduleKey(unit.KeyText);
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
            file.SeekTo(position);
            std::size_t written = 0;
            try {
                file.Write(block, &written);
            } catch (...) {
                transformedEnd = position + static_cast<std::int64_t>(written);
                throw;
            }
            position += static_cast<std::int64_t>(bytesRead);
            transformedEnd = position;
            // A short read also ends the pass, should the file have shrunk meanwhile.
            if (position >= unit.FileLength || bytesRead < wanted)
                break;
        }
    } catch (const EngineError& failure) {
        throw EngineError(failure.what() + RestoreFile(unit, transformedEnd, -1), failure.reason());
    } catch (...) {
        RestoreFile(unit, transformedEnd, -1);
        throw;
    }
    return true;
}

std::string RestoreFile(EngineUnit& unit, std::int64_t transformedEnd, std::int64_t length) {
    CurrentFileHandle& file = unit.CurrentFile;
    if (transformedEnd <= 0 && length < 0) {
        file.Close();
        return "; the file was left unchanged";
    }
    const std::string whatIsLeft = transformedEnd > 0
                                       ? "the file is left transformed up to offset " + std::to_string(transformedEnd)
                                       : "the file keeps what was appended to it";
    if (!file.isOpen() && !file.Open())
        return "; it could not be opened again to restore it (" + file.openError() + "), so " + whatIsLeft;

    unit.BlockBuffer.resize(BlockSize);
    std::int64_t restored = 0;
    try {
        unit.Generator.ScheduleKey(unit.KeyText);
        file.SeekTo(0);
        while (restored < transformedEnd) {
            const auto want = static_cast<std::size_t>(std::min<std::int64_t>(BlockSize, transformedEnd - restored));
            const std::span<std::uint8_t> block(unit.BlockBuffer.data(), want);
            if (file.Read(block) != want)
                throw EngineError("the file has become shorter", "the file has become shorter");
            unit.Generator.XorBlock(block);
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
    } catch (const EngineError& failure) {
        file.Close();
        std::string left =
            "; restoring it failed too (" + failure.reason() + "), so the file is left partly transformed";
        if (restored > 0)
            left += " from offset " + std::to_string(restored);
        return left + " up to offset " + std::to_string(transformedEnd);
    }

    if (length >= 0) {
        try {
            if (file.Size() != length)
                file.Truncate(length);
        } catch (const EngineError& failure) {
            file.Close();
            return "; its bytes were restored but cutting it back to " + std::to_string(length) +
                   " bytes failed too (" + failure.reason() + ")";
        }
    }
    file.Close();
    return "; the file was restored";
}

} // namespace veltrane
