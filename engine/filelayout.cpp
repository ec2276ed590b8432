#include "engine/filelayout.h"

namespace veltrane {

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

} // namespace veltrane
