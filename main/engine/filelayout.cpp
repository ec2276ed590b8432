#include "main/engine/filelayout.h"

#include "main/engine/engineerror.h"

#include <span>

namespace veltrane {

namespace {

// Closes the handle when a step leaves early through an exception.
class CloseOnExit {
public:
    explicit CloseOnExit(CurrentFileHandle& file) : File(file) {}
    ~CloseOnExit() {
        if (Armed)
            File.Close();
    }
    CloseOnExit(const CloseOnExit&) = delete;
    CloseOnExit& operator=(const CloseOnExit&) = delete;
    void Release() { Armed = false; }

private:
    CurrentFileHandle& File;
    bool Armed = true;
};

void AppendBytes(CurrentFileHandle& file, std::span<const std::uint8_t> bytes) {
    if (!file.Open())
        throw EngineError("Cannot open \"" + file.path() + "\" to append to it: " + file.openError(), file.openError());
    CloseOnExit closer(file);
    file.SeekToEnd();
    file.Write(bytes);
}

} // namespace

MarkerProbe ProbeFile(EngineUnit& unit, std::int64_t reserve) {
    CurrentFileHandle& file = unit.CurrentFile;
    MarkerProbe probe;
    if (!file.Open()) {
        probe.Reason = file.openError();
        return probe;
    }
    CloseOnExit closer(file);
    probe.State = MarkerState::Absent;
    probe.Size = file.Size();
    if (probe.Size >= static_cast<std::int64_t>(FileMarker.size())) {
        std::array<std::uint8_t, FileMarker.size()> tail{};
        file.SeekTo(probe.Size - static_cast<std::int64_t>(tail.size()));
        if (file.Read(tail) == tail.size() && tail == FileMarker)
            probe.State = MarkerState::Present;
    }
    if (reserve > 0 && probe.State == MarkerState::Absent)
        probe.Reserved = file.ReserveAfterEnd(reserve, probe.Reason);
    return probe;
}

MarkerState TestFileMarker(EngineUnit& unit) {
    return ProbeFile(unit, 0).State;
}

bool HasFileMarker(EngineUnit& unit) {
    return TestFileMarker(unit) == MarkerState::Present;
}

void MakeCheckBlock(EngineUnit& unit) {
    unit.Generator.ScheduleKey(unit.KeyText);
    for (std::size_t n = 0; n < unit.CheckBlock.size(); ++n)
        unit.CheckBlock[n] = FileMarker[n] ^ unit.Generator.NextKeyByte(static_cast<std::uint8_t>(n));
}

void AppendTrailer(EngineUnit& unit) {
    // Two separate cycles, as the format has always been written: check block, then marker.
    AppendBytes(unit.CurrentFile, unit.CheckBlock);
    AppendBytes(unit.CurrentFile, FileMarker);
}

KeyCheck CheckKeyOfFile(EngineUnit& unit) {
    CurrentFileHandle& file = unit.CurrentFile;
    if (!file.Open())
        return KeyCheck::CannotOpen;
    CloseOnExit closer(file);
    const std::int64_t size = file.Size();
    if (size < TrailerSize)
        return KeyCheck::Invalid;
    file.SeekTo(size - TrailerSize);
    unit.Generator.ScheduleKey(unit.KeyText);
    std::array<std::uint8_t, FileMarker.size()> stored{};
    if (file.Read(stored) != stored.size())
        return KeyCheck::Invalid;
    for (std::size_t n = 0; n < stored.size(); ++n)
        stored[n] ^= unit.Generator.NextKeyByte(static_cast<std::uint8_t>(n));
    if (stored != FileMarker)
        return KeyCheck::Invalid;
    closer.Release();
    return KeyCheck::Valid;
}

bool CheckKey(EngineUnit& unit) {
    return CheckKeyOfFile(unit) == KeyCheck::Valid;
}

void RemoveTrailer(EngineUnit& unit) {
    CurrentFileHandle& file = unit.CurrentFile;
    if (!file.isOpen() && !file.Open())
        throw EngineError("Cannot open \"" + file.path() + "\" to remove its trailer: " + file.openError(),
                          file.openError());
    CloseOnExit closer(file);
    const std::int64_t size = file.Size();
    if (size < TrailerSize)
        throw EngineError("Cannot remove the trailer of \"" + file.path() + "\": the file has become too short",
                          "the file has become too short");
    file.Truncate(size - TrailerSize);
}

} // namespace veltrane
