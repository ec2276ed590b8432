#include "engine/blockpass.h"

#include "engine/engineerror.h"
#include "engine/filelayout.h"
#include "engine/interruption.h"
#include "engine/passstream.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

namespace veltrane {

namespace {

// The first bytes of `page`; 0 for no page.
std::uint64_t Sample(std::span<const std::uint8_t> page) {
    std::uint64_t value = 0;
    if (!page.empty())
        std::memcpy(&value, page.data(), std::min<std::size_t>(sizeof value, page.size()));
    return value;
}

// The first bytes of `page` XOR the keystream over it.
std::uint64_t SampleXor(std::span<const std::uint8_t> page, std::span<const std::uint8_t> stream) {
    return Sample(page) ^ Sample(stream);
}

template <typename Byte> std::span<Byte> Page(std::span<Byte> block, std::size_t page) {
    const std::size_t start = page * RecordPageSize;
    if (start >= block.size())
        return {};
    return block.subspan(start, std::min(RecordPageSize, block.size() - start));
}

// Whether the block being written back ends up enciphered: encryption's pass, decryption's undo.
bool EndsEnciphered(RecordCommand command, RecordPhase phase) {
    return (command == RecordCommand::Encrypt) == (phase == RecordPhase::Pass);
}

// For each page of a block as an interrupted command left it, whether it is already in the form
// `phase` gives it. False when a page is in neither form.
bool PageStates(RecordCommand command, RecordPhase phase, std::span<const std::uint8_t> data,
                std::span<const std::uint8_t> stream, const BlockInFlight& block,
                std::array<bool, RecordPagesPerBlock>& written) {
    const bool enciphered = EndsEnciphered(command, phase);
    for (std::size_t page = 0; page < RecordPagesPerBlock; ++page) {
        const auto bytes = Page(data, page);
        if (bytes.empty()) {
            written[page] = true;
            continue;
        }
        const std::uint64_t asIs = Sample(bytes);
        const std::uint64_t flipped = SampleXor(bytes, Page(stream, page));
        const std::uint64_t wanted = block.Samples[page];
        // The enciphered form is what the record keeps: as it is, or once more transformed.
        const bool inTargetForm = (enciphered ? asIs : flipped) == wanted;
        const bool inFormerForm = (enciphered ? flipped : asIs) == wanted;
        if (!inTargetForm && !inFormerForm)
            return false;
        written[page] = inTargetForm;
    }
    return true;
}

// The samples of each page of `block`, XORed with the keystream over it where `stream` is given.
void TakeSamples(std::span<const std::uint8_t> block, std::span<const std::uint8_t> stream, BlockInFlight& into) {
    for (std::size_t page = 0; page < RecordPagesPerBlock; ++page)
        into.Samples[page] = SampleXor(Page(block, page), Page(stream, page));
}

void RecordBlock(EngineUnit& unit, RecordPhase phase, const BlockInFlight& block, std::int64_t undoEnd,
                 const timespec& modified) {
    RecordState& state = unit.Record.state();
    state.Phase = phase;
    state.Block = block.Block;
    state.BlockLength = block.Length;
    state.UndoEnd = undoEnd;
    state.ExpectedSize = unit.CurrentFile.expectedSize();
    state.ModifiedSeconds = modified.tv_sec;
    state.ModifiedNanoseconds = modified.tv_nsec;
    state.Samples = block.Samples;
    unit.Record.Write(state);
}

// Puts the file back as unit.Undo describes; returns the words that say how it was left.
std::string Restore(EngineUnit& unit) {
    CurrentFileHandle& file = unit.CurrentFile;
    UndoPlan& plan = unit.Undo;
    if (plan.TransformedEnd < 0) {
        unit.LeftInBetween = true;
        return "; the file is left part-way through the interrupted command, whose record was kept";
    }
    plan.RestoredEnd = 0;
    try {
        if (plan.TransformedEnd > 0)
            TransformBlocks(unit, RecordPhase::Undo, 0, plan.TransformedEnd, plan.TransformedEnd, nullptr, nullptr);
    } catch (const EngineError& failure) {
        unit.LeftInBetween = true;
        std::string left =
            "; restoring it failed too (" + failure.reason() + "), so the file is left partly transformed";
        if (plan.RestoredEnd > 0)
            left += " from offset " + std::to_string(plan.RestoredEnd);
        return left + " up to offset " + std::to_string(plan.TransformedEnd);
    }
    bool cutBack = false;
    if (plan.OriginalLength >= 0) {
        try {
            cutBack = file.Size() != plan.OriginalLength;
            if (cutBack) {
                RecordPhaseNow(unit, RecordPhase::UndoCut);
                file.Truncate(plan.OriginalLength);
            }
        } catch (const EngineError& failure) {
            unit.LeftInBetween = true;
            return "; its bytes were restored but cutting it back to " + std::to_string(plan.OriginalLength) +
                   " bytes failed too (" + failure.reason() + ")";
        }
    }
    // The pass and the undo wrote zeros where the file had holes, and the reservation took room past
    // the end: give all of it back, so that a failed command leaves the file using no more disk.
    file.Deallocate(plan.Holes);
    if (plan.ReservedAfterEnd > 0)
        file.ReleaseAfterEnd(plan.ReservedAfterEnd);
    unit.LeftInBetween = false;
    return plan.TransformedEnd > 0 || cutBack ? "; the file was restored" : "; the file was left unchanged";
}

std::string LeftAsItIs(const UndoPlan& plan) {
    if (plan.TransformedEnd == 0)
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

void RecordPhaseNow(EngineUnit& unit, RecordPhase phase) {
    if (!unit.Record.wanted())
        return;
    RecordBlock(unit, phase, BlockInFlight{}, 0, unit.CurrentFile.CheckUnchanged(false));
}

bool ReadBlockInFlight(EngineUnit& unit, RecordPhase phase, const BlockInFlight& block,
                       std::array<bool, RecordPagesPerBlock>& written) {
    CurrentFileHandle& file = unit.CurrentFile;
    const auto length = static_cast<std::size_t>(std::clamp<std::int64_t>(block.Length, 0, BlockSize));
    std::vector<std::uint8_t> data(length);
    const std::int64_t offset = block.Block * static_cast<std::int64_t>(BlockSize);
    file.SeekTo(offset);
    if (file.Read(data) != length)
        return false;
    PassStream stream(unit, offset, offset + static_cast<std::int64_t>(length));
    return PageStates(unit.Record.state().Command, phase, data, stream.StreamNext(length), block, written);
}

void TransformBlocks(EngineUnit& unit, RecordPhase phase, std::int64_t from, std::int64_t end, std::int64_t undoEnd,
                     const BlockInFlight* mixed, ProgressDisplay* display) {
    CurrentFileHandle& file = unit.CurrentFile;
    const bool passing = phase == RecordPhase::Pass;
    // The index rule (offset mod 256) relies on every block but the last being exactly this long.
    unit.BlockBuffer.resize(BlockSize);
    PassStream keystream(unit, from, end);
    const bool recorded = unit.Record.wanted();
    if (recorded && !unit.Record.recording()) {
        // The record starts with the check block of the key, made from the stream's first bytes
        // (both commands' files carry the same one under the same key).
        KeystreamGenerator head = unit.KeystreamOfRun().Scheduled();
        for (std::size_t n = 0; n < FileMarker.size(); ++n)
            unit.Record.state().CheckBlock[n] = FileMarker[n] ^ head.NextKeyByte(static_cast<std::uint8_t>(n));
        ::explicit_bzero(static_cast<void*>(&head), sizeof head);
    }
    const bool enciphered = EndsEnciphered(unit.Record.state().Command, phase);

    file.SeekTo(from);
    std::int64_t position = from;
    do {
        const auto wanted =
            static_cast<std::size_t>(std::clamp<std::int64_t>(end - position, 0, static_cast<std::int64_t>(BlockSize)));
        const std::size_t got = file.Read(std::span(unit.BlockBuffer.data(), wanted));
        const std::span<std::uint8_t> block(unit.BlockBuffer.data(), got);
        BlockInFlight inFlight;
        inFlight.Block = position / static_cast<std::int64_t>(BlockSize);
        inFlight.Length = static_cast<std::int64_t>(got);
        const bool fixing = mixed && position == from;
        if (fixing) {
            // Only the pages that had not reached the file are transformed now.
            const std::span<const std::uint8_t> stream = keystream.StreamNext(got);
            std::array<bool, RecordPagesPerBlock> written{};
            if (!PageStates(unit.Record.state().Command, phase, block, stream, *mixed, written))
                throw FileChangedError("Cannot go on with \"" + file.path() +
                                           "\": another program changed the file since the interrupted command",
                                       "another program changed the file", FileChange::Rewritten);
            for (std::size_t page = 0; page < RecordPagesPerBlock; ++page)
                if (!written[page])
                    XorBytes(Page(block, page), Page(stream, page));
            if (recorded)
                TakeSamples(block, enciphered ? std::span<const std::uint8_t>() : stream, inFlight);
        } else {
            // The record keeps the enciphered form: as read when it is being deciphered, as written
            // when it is being enciphered.
            if (recorded && !enciphered)
                TakeSamples(block, {}, inFlight);
            keystream.XorNext(block);
            if (recorded && enciphered)
                TakeSamples(block, {}, inFlight);
        }
        if (passing) {
            ++unit.BlockCount;
            if (display)
                display->SetProgress(ProgressFigure(unit.BlockCount, unit.FileLength));
        }
        // A file that another program cut or grew since the last block is not written further.
        const timespec modified = file.CheckUnchanged(false);
        if (recorded)
            RecordBlock(unit, phase, inFlight, undoEnd, modified);
        file.SeekTo(position);
        std::size_t written = 0;
        try {
            file.Write(block, &written);
        } catch (...) {
            if (passing)
                unit.Undo.TransformedEnd = fixing ? -1 : position + static_cast<std::int64_t>(written);
            else
                unit.Undo.RestoredEnd = position + static_cast<std::int64_t>(written);
            throw;
        }
        position += static_cast<std::int64_t>(got);
        if (passing) {
            unit.Undo.TransformedEnd = position;
            // The block in hand is finished; an interruption undoes the pass from here.
            ThrowIfInterrupted(file.path().c_str());
        } else {
            unit.Undo.RestoredEnd = position;
        }
    } while (position < end);
}

void UndoAndRethrow(EngineUnit& unit) {
    try {
        throw;
    } catch (const FileChangedError& changed) {
        std::string left;
        if (changed.mayRestore()) {
            left = Restore(unit);
        } else {
            // Nothing can be put back exactly any more, so the record has nothing left to tell.
            left = LeftAsItIs(unit.Undo);
            unit.LeftInBetween = false;
        }
        unit.Undo = {};
        throw FileChangedError(changed.what() + left, changed.reason(), changed.change());
    } catch (const EngineError& error) {
        const std::string left = Restore(unit);
        unit.Undo = {};
        if (dynamic_cast<const InterruptedError*>(&error))
            throw InterruptedError(error.what() + left, error.reason());
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
        unit.Resume = {};
    }
    if (display)
        display->MakeVisible();
    const ResumePoint resume = unit.Resume;
    unit.Resume = {};
    unit.BlockCount = 0;
    unit.FileLength = 0;
    unit.Undo.TransformedEnd = 0;

    try {
        file.CheckUnchanged(true);
        unit.FileLength = file.Size();
        if (resume.Active) {
            unit.BlockCount = resume.In.Block;
            unit.Undo.TransformedEnd = resume.In.Block * static_cast<std::int64_t>(BlockSize);
        }
        TransformBlocks(unit, RecordPhase::Pass, unit.Undo.TransformedEnd, unit.FileLength, 0,
                        resume.Active ? &resume.In : nullptr, display);
        file.Remember();
    } catch (...) {
        try {
            UndoAndRethrow(unit);
        } catch (...) {
            if (onItsOwn)
                file.Close();
            throw;
        }
    }
    return true;
}

} // namespace veltrane
