#include "engine/recovery.h"

#include "engine/engineerror.h"
#include "engine/filelayout.h"
#include "engine/partwaywrite.h"
#include "engine/passstream.h"
#include "engine/zonedpass.h"

#include <algorithm>
#include <array>
#include <exception>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace veltrane {

namespace {

constexpr auto Block = static_cast<std::int64_t>(BlockSize);

const char* CommandWords(PartwayCommand command) {
    return command == PartwayCommand::Encrypt ? "encryption" : "decryption";
}

// The body's form before the command: plain for an encryption, enciphered for a decryption.
bool OriginalEnciphered(const PartwayState& state) {
    return state.Command == PartwayCommand::Decrypt;
}

// Calls `visit(page index, page bytes, stream over them)` for the pages of [from, to), reading the
// file block by block. False when the file ends before `to`.
template <typename Visit> bool ForEachPage(EngineUnit& unit, std::int64_t from, std::int64_t to, Visit visit) {
    if (from >= to)
        return true;
    CurrentFileHandle& file = unit.CurrentFile;
    std::vector<std::uint8_t> bytes(BlockSize);
    PassStream stream(unit, from / Block * Block, to);
    for (std::int64_t at = from / Block * Block; at < to; at += Block) {
        const auto length = static_cast<std::size_t>(std::min(Block, to - at));
        const std::span<std::uint8_t> block(bytes.data(), length);
        if (file.ReadAt(at, block) != length)
            return false;
        const std::span<const std::uint8_t> keystream = stream.StreamNext(length);
        for (std::size_t start = 0; start < length; start += PartwayPage) {
            const std::int64_t offset = at + static_cast<std::int64_t>(start);
            if (offset < from)
                continue;
            const std::size_t size = std::min<std::size_t>(PartwayPage, length - start);
            visit(offset / PartwayPage, block.subspan(start, size), keystream.subspan(start, size));
        }
    }
    return true;
}

// Which bytes of the hot range are enciphered: stretches in order; the bytes between them are plain.
class HotForms {
public:
    void Add(std::int64_t from, std::int64_t to) {
        if (from >= to)
            return;
        if (!m_enciphered.empty() && m_enciphered.back().Offset + m_enciphered.back().Length == from)
            m_enciphered.back().Length += to - from;
        else
            m_enciphered.push_back({from, to - from});
    }
    // The trailer's bytes of a decryption's torn cut read as zeros (see PlainUpToTornCut).
    void SetTornCut() { m_tornCut = true; }
    bool TornCut() const { return m_tornCut; }
    // Bytes that are in neither form: another program's, to be left as they are.
    void AddForeign(std::int64_t from, std::int64_t to) { m_foreign.push_back({from, to - from}); }
    bool Foreign(std::int64_t offset) const {
        return std::any_of(m_foreign.begin(), m_foreign.end(), [&](const FileRange& range) {
            return offset >= range.Offset && offset < range.Offset + range.Length;
        });
    }
    // Calls `visit(from, to, enciphered)` over [from, to) in order, split where the form changes.
    template <typename Visit> void Over(std::int64_t from, std::int64_t to, Visit visit) const {
        std::int64_t at = from;
        for (const FileRange& stretch : m_enciphered) {
            const std::int64_t start = std::max(stretch.Offset, at);
            const std::int64_t end = std::min(stretch.Offset + stretch.Length, to);
            if (start >= end)
                continue;
            if (at < start)
                visit(at, start, false);
            visit(start, end, true);
            at = end;
        }
        if (at < to)
            visit(at, to, false);
    }

private:
    std::vector<FileRange> m_enciphered;
    std::vector<FileRange> m_foreign;
    bool m_tornCut = false;
};

// The check of a page in its enciphered form, its bytes being in the forms `forms` says.
std::uint64_t EncipheredCheck(CheckKind kind, std::int64_t offset, std::span<const std::uint8_t> page,
                              std::span<const std::uint8_t> stream, const HotForms& forms) {
    std::array<std::uint8_t, PartwayPage> enciphered;
    forms.Over(offset, offset + static_cast<std::int64_t>(page.size()), [&](std::int64_t from, std::int64_t to, bool is) {
        for (auto n = static_cast<std::size_t>(from - offset); n < static_cast<std::size_t>(to - offset); ++n)
            enciphered[n] = is ? page[n] : page[n] ^ stream[n];
    });
    return PageCheck(kind, std::span(enciphered.data(), page.size()));
}

// A decryption's cut of its trailer zeroes the rest of its last page before the new size reaches the
// disk, so a power cut between the two can leave the trailer's bytes as zeros in a page that is
// otherwise plain. True when `page` is such a page: plain below the cut, zeros from it, and its check
// that of the whole plain page with the trailer as it was. The cut the command finishes with takes
// those bytes off again.
bool PlainUpToTornCut(const PartwayState& state, std::int64_t offset, std::span<const std::uint8_t> page,
                      std::span<const std::uint8_t> stream, std::uint64_t check) {
    const std::int64_t cut = state.Body - static_cast<std::int64_t>(TrailerSize);
    const auto end = offset + static_cast<std::int64_t>(page.size());
    if (state.Command != PartwayCommand::Decrypt || state.Undoing || cut < 0 || end <= cut)
        return false;
    std::array<std::uint8_t, TrailerSize> trailer{};
    std::copy(state.CheckBlock.begin(), state.CheckBlock.end(), trailer.begin());
    std::copy(FileMarker.begin(), FileMarker.end(), trailer.begin() + state.CheckBlock.size());
    std::array<std::uint8_t, PartwayPage> enciphered;
    for (std::size_t n = 0; n < page.size(); ++n) {
        const std::int64_t at = offset + static_cast<std::int64_t>(n);
        if (at >= cut && page[n] != 0)
            return false;
        enciphered[n] = at < cut ? page[n] ^ stream[n] : trailer[static_cast<std::size_t>(at - cut)];
    }
    return PageCheck(state.Kind, std::span(enciphered.data(), page.size())) == check;
}

// The forms of the hot range's bytes, told by their checks: each page wholly in one form, or, where
// the disk tore a page (hash checks only), each 512-byte sector of it in one. False when a page is
// in neither form however it is cut, unless the state says another program wrote to the file: such
// a page is then that program's.
bool ClassifyHot(EngineUnit& unit, const PartwayState& state, HotForms& forms) {
    constexpr std::int64_t Sector = 512;
    bool known = true;
    const std::int64_t first = state.Low / PartwayPage;
    const bool read = ForEachPage(
        unit, state.Low, state.High,
        [&](std::int64_t page, std::span<const std::uint8_t> bytes, std::span<const std::uint8_t> stream) {
            const std::uint64_t check = state.Checks[static_cast<std::size_t>(page - first)];
            const std::int64_t offset = page * PartwayPage;
            const auto size = static_cast<std::int64_t>(bytes.size());
            if (PageCheck(state.Kind, bytes) == check) {
                forms.Add(offset, offset + size);
                return;
            }
            if (PageCheckXor(state.Kind, bytes, stream) == check || !known)
                return;
            if (PlainUpToTornCut(state, offset, bytes, stream, check)) {
                forms.SetTornCut();
                return;
            }
            if (state.Foreign) {
                forms.AddForeign(offset, offset + size);
                return;
            }
            known = false;
            if (state.Kind != CheckKind::Hash)
                return;
            const int sectors = static_cast<int>((size + Sector - 1) / Sector);
            for (unsigned mask = 1; mask + 1 < (1u << sectors) && !known; ++mask) {
                HotForms torn;
                for (int n = 0; n < sectors; ++n) {
                    if (mask & (1u << n))
                        torn.Add(offset + n * Sector, std::min(offset + (n + 1) * Sector, offset + size));
                }
                if (EncipheredCheck(state.Kind, offset, bytes, stream, torn) != check)
                    continue;
                known = true;
                for (int n = 0; n < sectors; ++n) {
                    if (mask & (1u << n))
                        forms.Add(offset + n * Sector, std::min(offset + (n + 1) * Sector, offset + size));
                }
            }
        });
    return read && known;
}

// Whether the bytes the state vouches for are still what the command made of them.
bool ChainHolds(EngineUnit& unit, const PartwayState& state, const HotForms& hot) {
    const std::int64_t end = state.Undoing ? state.End : state.Low;
    // Outside the hot range: enciphered below Low where the state says so, and above High otherwise.
    HotForms forms;
    if (state.LowEnciphered())
        forms.Add(0, state.Low);
    hot.Over(state.Low, state.High, [&](std::int64_t from, std::int64_t to, bool is) {
        if (is)
            forms.Add(from, to);
    });
    if (!state.LowEnciphered())
        forms.Add(state.High, end);
    std::uint64_t sum = 0;
    const bool read = ForEachPage(
        unit, 0, end, [&](std::int64_t page, std::span<const std::uint8_t> bytes, std::span<const std::uint8_t> stream) {
            sum += ChainTerm(page, EncipheredCheck(state.Kind, page * PartwayPage, bytes, stream, forms));
        });
    return read && sum == state.Chain;
}

// The forms of the hot range's bytes as the command in hand knows them: of a pass, everything it has
// written back (below unit.WrittenEnd) is in the form below Low, the rest as it was.
HotForms KnownForms(const EngineUnit& unit) {
    const PartwayState& state = unit.Partway;
    const std::int64_t written = std::clamp(unit.WrittenEnd, state.Low, state.High);
    HotForms forms;
    if (state.LowEnciphered())
        forms.Add(state.Low, written);
    else
        forms.Add(written, state.High);
    return forms;
}

// Gives every byte of the hot range the form `toEnciphered` and then records the range as settled:
// below Low when that is the form below it, above High otherwise.
void SettleHot(EngineUnit& unit, const HotForms& hot, bool toEnciphered) {
    PartwayState& state = unit.Partway;
    CurrentFileHandle& file = unit.CurrentFile;
    if (state.Low == state.High)
        return;
    std::vector<std::uint8_t> bytes(BlockSize);
    PassStream stream(unit, state.Low, state.High);
    std::uint64_t terms = 0;
    for (std::int64_t at = state.Low; at < state.High; at += Block) {
        const auto length = static_cast<std::size_t>(std::min(Block, state.High - at));
        const std::span<std::uint8_t> block(bytes.data(), length);
        if (file.ReadAt(at, block) != length) {
            file.CheckUnchanged(true);
            throw EngineError({.Path = file.path(), .Reason = "it ended before its size said"}, "it is shorter");
        }
        const std::span<const std::uint8_t> keystream = stream.StreamNext(length);
        for (std::size_t start = 0; start < length; start += PartwayPage) {
            const auto n = static_cast<std::size_t>((at + static_cast<std::int64_t>(start) - state.Low) / PartwayPage);
            terms += ChainTerm((at + static_cast<std::int64_t>(start)) / PartwayPage, state.Checks[n]);
        }
        bool changed = false;
        hot.Over(at, at + static_cast<std::int64_t>(length), [&](std::int64_t from, std::int64_t to, bool is) {
            if (is == toEnciphered || hot.Foreign(from))
                return;
            const auto start = static_cast<std::size_t>(from - at);
            const auto size = static_cast<std::size_t>(to - from);
            XorBytes(block.subspan(start, size), keystream.subspan(start, size));
            changed = true;
        });
        if (changed)
            file.WriteAt(at, block);
    }
    // The settled bytes reach the disk before a state that no longer checks them.
    SyncIfDurable(file, state);
    file.Remember();
    if (toEnciphered == state.LowEnciphered()) {
        if (!state.Undoing)
            state.Chain += terms;
        state.Low = state.High;
    } else {
        state.High = state.Low;
    }
    state.ZoneCount = 0;
    state.Checks.clear();
    state.Sequence += 1;
    WriteState(file, state);
    file.Remember();
}

// Turns a pass whose hot range is settled into the undo of everything below it.
void StartUndo(PartwayState& state) {
    state.Undoing = true;
    state.End = state.Low;
    state.Low = state.High = 0;
}

[[noreturn]] void Refuse(EngineUnit& unit, const PartwayState& found, PartwayCommand command, const std::string& why) {
    throw EngineError({.Operation = OperationOf(command),
                       .Path = unit.CurrentFile.path(),
                       .Reason = "it was left part-way through an interrupted " +
                                 std::string(CommandWords(found.Command)) + " and " + why,
                       .Left = FileLeft::AsItIs});
}

// Puts back the plain form of the trailer that a torn cut left as zeros, so that its page is whole in
// one form again whichever way the command goes on. A cut during this write leaves zeros or the plain
// bytes, each of which the next command knows.
void MendTornCut(EngineUnit& unit, const PartwayState& state) {
    const std::int64_t cut = state.Body - static_cast<std::int64_t>(TrailerSize);
    std::array<std::uint8_t, TrailerSize> trailer{};
    std::copy(state.CheckBlock.begin(), state.CheckBlock.end(), trailer.begin());
    std::copy(FileMarker.begin(), FileMarker.end(), trailer.begin() + state.CheckBlock.size());
    PassStream stream(unit, cut / Block * Block, state.Body);
    for (std::int64_t at = cut / Block * Block; at < state.Body; at += Block) {
        const auto length = static_cast<std::size_t>(std::min(Block, state.Body - at));
        const std::span<const std::uint8_t> keystream = stream.StreamNext(length);
        for (std::int64_t n = std::max(at, cut); n < at + static_cast<std::int64_t>(length); ++n)
            trailer[static_cast<std::size_t>(n - cut)] ^= keystream[static_cast<std::size_t>(n - at)];
    }
    unit.CurrentFile.WriteAt(cut, trailer);
    SyncIfDurable(unit.CurrentFile, state);
    unit.CurrentFile.Remember();
}

// Checks the file against its state: the form of every hot page, and the bytes the state vouches
// for. Refuses, changing nothing, where they do not match.
HotForms Verify(EngineUnit& unit, PartwayCommand command) {
    HotForms hot;
    const PartwayState& state = unit.Partway;
    if (!ClassifyHot(unit, state, hot))
        Refuse(unit, state, command, "the bytes where it stopped have been changed since");
    // Where another program wrote, the chain is known not to hold.
    if (!state.Foreign && !ChainHolds(unit, state, hot))
        Refuse(unit, state, command, "bytes it had already transformed have been changed since");
    if (hot.TornCut())
        MendTornCut(unit, state);
    return hot;
}

void UndoSettled(EngineUnit& unit, bool finish = true, bool thorough = true) {
    if (!unit.Partway.Undoing)
        StartUndo(unit.Partway);
    TransformZones(unit, unit.Partway.High, unit.Partway.End, nullptr);
    if (finish)
        FinishFile(unit, OriginalEnciphered(unit.Partway), thorough);
}

} // namespace

FailedOperation OperationOf(PartwayCommand command) {
    return command == PartwayCommand::Encrypt ? FailedOperation::Encrypt : FailedOperation::Decrypt;
}

bool ReadFileState(EngineUnit& unit, PartwayState& state) {
    CurrentFileHandle& file = unit.CurrentFile;
    const PartwayReading reading = ReadPartway(file.fd(), file.expectedSize());
    if (reading.Found == PartwayFound::Damaged) {
        throw EngineError({.Operation = FailedOperation::WorkOn,
                           .Path = file.path(),
                           .Reason = reading.Why,
                           .Left = FileLeft::AsItIs},
                          reading.Why + "; the file was left as it is");
    }
    if (reading.Found != PartwayFound::Valid)
        return false;
    state = reading.State;
    return true;
}

RecoveryResult RecoverPartway(EngineUnit& unit, const PartwayState& found, PartwayCommand command) {
    unit.Partway = found;
    unit.Keeping = true;
    MakeCheckBlock(unit);
    if (unit.CheckBlock != found.CheckBlock)
        return {RecoveryStep::Done, FileOutcome::InvalidKey};
    if (!found.Durable && found.Boot != CurrentBoot()) {
        // Without syncs, what the state says reached the disk before the system stopped may not have.
        Refuse(unit, found, command,
               "the system stopped since (a power cut or a crash), so what reached the disk is not known; it may "
               "be partly transformed");
    }
    const bool goalEnciphered = command == PartwayCommand::Encrypt;
    const bool same = found.Command == command;
    const Recovery recovered =
        same ? (command == PartwayCommand::Encrypt ? Recovery::FinishedEncryption : Recovery::FinishedDecryption)
             : (found.Command == PartwayCommand::Encrypt ? Recovery::UndidEncryption : Recovery::UndidDecryption);
    const FileOutcome done = goalEnciphered ? FileOutcome::Encrypted : FileOutcome::Decrypted;
    const bool onward = !found.Undoing && goalEnciphered == found.LowEnciphered();
    // What another program wrote below the hot range cannot be told from the command's own bytes, so
    // such a file is only ever finished, which leaves those bytes alone.
    if (found.Foreign && !onward)
        Refuse(unit, found, command,
               std::string("another program wrote to it meanwhile, so it can only be finished, by ") +
                   (found.Command == PartwayCommand::Encrypt ? "Encrypt" : "Decrypt"));
    const HotForms hot = Verify(unit, command);
    try {
        if (onward) {
            SettleHot(unit, hot, found.LowEnciphered());
            return {RecoveryStep::Resume, done, recovered, found.Foreign};
        }
        // Turning back, or going on with an undo: the hot range goes back to its original form first.
        SettleHot(unit, hot, OriginalEnciphered(found));
        UndoSettled(unit);
    } catch (EngineError& failure) {
        if (failure.failure().Cause != FailureCause::Changed) {
            failure.failure().Left = FileLeft::RecoveryPartWay;
            failure.failure().PartWayThrough = OperationOf(found.Command);
        }
        throw;
    }
    // The file is as it was before the interrupted command: this command's result where that went the
    // other way, and where this command starts from where it went this way.
    const RecoveryStep step = goalEnciphered == OriginalEnciphered(found) ? RecoveryStep::Done : RecoveryStep::Fresh;
    return {step, done, recovered, found.Foreign};
}

void FinishFile(EngineUnit& unit, bool enciphered, bool thorough) {
    CurrentFileHandle& file = unit.CurrentFile;
    const PartwayState& state = unit.Partway;
    // The last step checks that nobody renamed, replaced or wrote to the file meanwhile (but for an
    // undo after such a change, which puts the file back whatever its name).
    file.CheckUnchanged(thorough);
    std::int64_t length = state.Body;
    if (state.Command == PartwayCommand::Encrypt && enciphered) {
        MakeCheckBlock(unit);
        std::array<std::uint8_t, TrailerSize> trailer{};
        std::copy(unit.CheckBlock.begin(), unit.CheckBlock.end(), trailer.begin());
        std::copy(FileMarker.begin(), FileMarker.end(), trailer.begin() + CheckBlockSize);
        file.WriteAt(state.Body, trailer);
        file.Remember();
        length += TrailerSize;
    } else if (state.Command == PartwayCommand::Decrypt && !enciphered) {
        length -= TrailerSize;
    }
    // Every byte of the result is on the disk before the state that could still repair it goes, and
    // the file is still this command's to cut.
    SyncIfDurable(file, state);
    file.CheckUnchanged(thorough);
    const std::int64_t carried = file.expectedSize();
    file.Truncate(length);
    // From here the file is the result, with no state to undo it by: a failure of the last sync must
    // not put the file back.
    unit.Completed = true;
    SyncIfDurable(file, state);
    unit.Keeping = false;
    // Room past the end was reserved only where the state was synced into it.
    if (carried > length && state.Durable)
        file.ReleaseAfterEnd(carried - length);
    // An undone encryption gives back the holes of a sparse file (and of zeros it wrote back).
    if (state.Command == PartwayCommand::Encrypt && !enciphered)
        file.Deallocate(unit.Holes);
    file.Remember();
}

namespace {

// Puts the file back in the form it had before the command in hand, from the state it carries on the
// disk and what the command knows it wrote, and cuts the state off; false when the file carried no
// state yet (nothing of it had changed).
bool UndoFromFileState(EngineUnit& unit) {
    // The undo takes the file as the command's last step left it, whatever that step's failure did
    // to its times.
    unit.CurrentFile.Remember();
    PartwayState found;
    if (!ReadFileState(unit, found)) {
        // The command stopped before its state reached the file: nothing of the body has changed,
        // but an anchor page may have been half appended.
        if (unit.CurrentFile.expectedSize() != unit.OriginalLength)
            unit.CurrentFile.Truncate(unit.OriginalLength);
        unit.Keeping = false;
        return false;
    }
    unit.Partway = found;
    SettleHot(unit, KnownForms(unit), OriginalEnciphered(found));
    UndoSettled(unit, true, false);
    return true;
}

// Like UndoFromFileState for a file that another program has grown at its end: the body is put back
// and the state blanked where it lies, but nothing is cut. Returns how many bytes past the body this
// command had added (now blank), 0 where its state had not reached the file.
std::int64_t UndoBeforeAdded(EngineUnit& unit) {
    CurrentFileHandle& file = unit.CurrentFile;
    // What the other program added, and goes on adding, is part of the file as it is now.
    file.AcceptSize();
    file.AllowGrowth();
    const PartwayLayout layout = LayoutOf(unit.Partway.Body, unit.Partway.AreaSize);
    const PartwayReading reading = ReadPartway(file.fd(), layout.End);
    if (reading.Found != PartwayFound::Valid) {
        unit.Keeping = false;
        return 0;
    }
    unit.Partway = reading.State;
    const HotForms hot = KnownForms(unit);
    SettleHot(unit, hot, OriginalEnciphered(unit.Partway));
    UndoSettled(unit, false);
    SyncIfDurable(file, unit.Partway);
    BlankState(file, unit.Partway);
    file.Remember();
    unit.Keeping = false;
    file.Remember();
    return layout.End - unit.Partway.Body;
}

// What a failed undo says in brackets: the engine's own reason; nothing for any other failure.
std::string ReasonOf(const std::exception_ptr& thrown) {
    try {
        std::rethrow_exception(thrown);
    } catch (const EngineError& failure) {
        return failure.reason();
    } catch (...) {
        return {};
    }
}

// Puts the file back as it was before the command.
FileLeft Restore(EngineUnit& unit, FileFailure& failure, bool& partWay) {
    bool changed = false;
    try {
        changed = UndoFromFileState(unit);
    } catch (...) {
        // Memory that ran out on the way, say: the file keeps its state for the next command.
        partWay = true;
        failure.UndoReason = ReasonOf(std::current_exception());
        return FileLeft::RestoreFailed;
    }
    partWay = false;
    if (changed)
        return FileLeft::Restored;
    // Nothing was written: give back the room reserved for the command.
    unit.CurrentFile.Deallocate(unit.Holes);
    const PartwayState& state = unit.Partway;
    unit.CurrentFile.ReleaseAfterEnd(LayoutOf(state.Body, state.AreaSize).End - state.Body);
    return FileLeft::Unchanged;
}

// Another program added to the end of the file, past the state: the body is put back and the state
// blanked where it lies, so that no later command takes the file for one part-way through a command;
// nothing is cut, since what was added is not this command's to remove.
FileLeft RestoreBeforeAdded(EngineUnit& unit, FileFailure& failure, bool& partWay) {
    if (!unit.Keeping)
        return FileLeft::NoneChanged;
    try {
        failure.AddedBytes = UndoBeforeAdded(unit);
    } catch (...) {
        partWay = true;
        failure.UndoReason = ReasonOf(std::current_exception());
        return FileLeft::PutBackFailed;
    }
    partWay = false;
    failure.AddedAfter = unit.Partway.Body;
    return failure.AddedBytes == 0 ? FileLeft::NoneChanged : FileLeft::PutBackBeforeAdded;
}

FileLeft LeftAsItIs(const EngineUnit& unit, bool& partWay) {
    partWay = unit.Keeping;
    return unit.Keeping ? FileLeft::NotWrittenAsItIs : FileLeft::NotWrittenUnchanged;
}

// Another program wrote to the file part-way through the command: nothing of the file is written
// further but the state, which says so, so that a later command finishes the file around what that
// program wrote and does not take its bytes for the command's own.
FileLeft LeftToOtherWriter(EngineUnit& unit, FileFailure& failure, bool& partWay) {
    if (!unit.Keeping)
        return LeftAsItIs(unit, partWay);
    partWay = true;
    PartwayState& state = unit.Partway;
    state.Foreign = true;
    state.Sequence += 1;
    try {
        WriteState(unit.CurrentFile, state);
    } catch (const EngineError&) {
        return FileLeft::NotWrittenAsItIs;
    }
    failure.PartWayThrough = OperationOf(state.Command);
    return FileLeft::NotWrittenPartWay;
}

} // namespace

void PutBack(EngineUnit& unit, FileFailure& failure, bool& partWay) {
    if (unit.Completed)
        failure.Left = FileLeft::WholeResult;
    else if (failure.Cause != FailureCause::Changed || failure.Change == FileChange::Renamed ||
             failure.Change == FileChange::Replaced)
        failure.Left = Restore(unit, failure, partWay);
    else if (failure.Change == FileChange::Longer)
        failure.Left = RestoreBeforeAdded(unit, failure, partWay);
    else if (failure.Change == FileChange::Rewritten)
        failure.Left = LeftToOtherWriter(unit, failure, partWay);
    else
        failure.Left = LeftAsItIs(unit, partWay);
}

bool InterruptedFileAt(const std::string& path, InterruptedFile& file) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return false;
    struct stat status {};
    PartwayReading reading;
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode))
        reading = ReadPartway(fd, status.st_size);
    ::close(fd);
    if (reading.Found == PartwayFound::None)
        return false;
    file = {};
    file.Path = path;
    file.Damaged = reading.Found == PartwayFound::Damaged;
    if (!file.Damaged) {
        const PartwayState& state = reading.State;
        file.Command = state.Command;
        file.Undoing = state.Undoing;
        // How far the pass had got: up to the zone it was writing, whose pages may be in either form
        // (the one zone of a small file is the whole of it). Undoing, how much may still be to undo.
        const std::int64_t writing = state.ZoneCount > 0 ? state.Zones[state.ZoneCount - 1].Start : state.Low;
        const std::int64_t done = state.Undoing ? state.End - state.Low : writing;
        file.Percent = state.Body > 0 ? static_cast<int>(std::min<std::int64_t>(100, done * 100 / state.Body)) : 100;
    }
    return true;
}

std::vector<InterruptedFile> InterruptedFiles(const InterruptionHints& hints) {
    std::vector<InterruptedFile> files;
    for (const std::string& name : hints.TakeLegacyNames()) {
        InterruptedFile file;
        file.Path = name;
        file.Legacy = true;
        files.push_back(file);
    }
    for (const std::string& name : hints.Names()) {
        InterruptedFile file;
        if (InterruptedFileAt(name, file))
            files.push_back(file);
        else
            hints.Forget(name);
    }
    return files;
}

} // namespace veltrane
