#include "engine/filelayout.h"

#include "engine/engineerror.h"

#include <span>

namespace veltrane {

namespace {

void AppendBytes(CurrentFileHandle& file, std::span<const std::uint8_t> bytes) {
    file.CheckUnchanged(true);
    file.SeekToEnd();
    file.Write(bytes);
    file.Remember();
}

} // namespace

bool HasFileMarker(EngineUnit& unit) {
    CurrentFileHandle& file = unit.CurrentFile;
    const std::int64_t size = file.Size();
    if (size < static_cast<std::int64_t>(FileMarker.size()))
        return false;
    std::array<std::uint8_t, FileMarker.size()> tail{};
    file.SeekTo(size - static_cast<std::int64_t>(tail.size()));
    return file.Read(tail) == tail.size() && tail == FileMarker;
}

void MakeCheckBlock(EngineUnit& unit) {
    unit.Generator = unit.KeystreamOfRun().Scheduled();
    for (std::size_t n = 0; n < unit.CheckBlock.size(); ++n)
        unit.CheckBlock[n] = FileMarker[n] ^ unit.Generator.NextKeyByte(static_cast<std::uint8_t>(n));
}

void AppendTrailer(EngineUnit& unit) {
    // Two appends, check block first: between them the file holds the body and the check block.
    AppendBytes(unit.CurrentFile, unit.CheckBlock);
    AppendBytes(unit.CurrentFile, FileMarker);
}

bool CheckKey(EngineUnit& unit) {
    CurrentFileHandle& file = unit.CurrentFile;
    const std::int64_t size = file.Size();
    if (size < TrailerSize)
        return false;
    file.SeekTo(size - TrailerSize);
    unit.Generator = unit.KeystreamOfRun().Scheduled();
    std::array<std::uint8_t, FileMarker.size()> stored{};
    if (file.Read(stored) != stored.size())
        return false;
    for (std::size_t n = 0; n < stored.size(); ++n)
        stored[n] ^= unit.Generator.NextKeyByte(static_cast<std::uint8_t>(n));
    return stored == FileMarker;
}

void RemoveTrailer(EngineUnit& unit) {
    CurrentFileHandle& file = unit.CurrentFile;
    file.CheckUnchanged(true);
    const std::int64_t size = file.Size();
    if (size < TrailerSize)
        throw EngineError("Cannot remove the trailer of \"" + file.path() + "\": the file has become too short",
                          "the file has become too short");
    file.Truncate(size - TrailerSize);
    file.Remember();
}

} // namespace veltrane
