#include "tests/fuse/powercutfile.h"

#include <algorithm>

namespace veltrane::testsupport {

namespace {

// Page `page` of `bytes`, zeros past their end.
std::vector<std::uint8_t> PageOf(const std::vector<std::uint8_t>& bytes, std::int64_t page) {
    std::vector<std::uint8_t> image(PowerCutFile::Page, 0);
    const auto from = static_cast<std::size_t>(page * PowerCutFile::Page);
    if (from < bytes.size()) {
        const std::size_t count = std::min<std::size_t>(PowerCutFile::Page, bytes.size() - from);
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(from), count, image.begin());
    }
    return image;
}

std::size_t Pick(std::mt19937_64& random, std::size_t count) {
    return std::uniform_int_distribution<std::size_t>(0, count - 1)(random);
}

} // namespace

PowerCutFile::PowerCutFile(std::vector<std::uint8_t> bytes) : m_bytes(std::move(bytes)), m_synced(m_bytes) {}

std::size_t PowerCutFile::Read(std::int64_t offset, std::span<std::uint8_t> into) const {
    if (offset < 0 || offset >= size())
        return 0;
    const std::size_t count = std::min<std::size_t>(into.size(), static_cast<std::size_t>(size() - offset));
    std::copy_n(m_bytes.begin() + offset, count, into.begin());
    return count;
}

void PowerCutFile::Write(std::int64_t offset, std::span<const std::uint8_t> data) {
    if (data.empty())
        return;
    const int change = Begin();
    const std::int64_t before = size();
    const std::int64_t end = offset + static_cast<std::int64_t>(data.size());
    if (end > before)
        m_bytes.resize(static_cast<std::size_t>(end), 0);
    std::copy(data.begin(), data.end(), m_bytes.begin() + offset);
    for (std::int64_t page = offset / Page; page <= (end - 1) / Page; ++page)
        Keep(page, change);
    if (end > before)
        m_sizes.push_back({change, end, (end - 1) / Page});
}

void PowerCutFile::Resize(std::int64_t length) {
    const std::int64_t before = size();
    if (length == before)
        return;
    const int change = Begin();
    m_bytes.resize(static_cast<std::size_t>(length), 0);
    if (length < before) {
        // The tail of the page the new end lies in is zeroed in place; the pages past it go.
        if (length % Page != 0)
            Keep(length / Page, change);
        for (std::int64_t page = (length + Page - 1) / Page; page <= (before - 1) / Page; ++page)
            Keep(page, change, true);
    }
    m_sizes.push_back({change, length, -1});
}

void PowerCutFile::Zero(std::int64_t offset, std::int64_t length) {
    const std::int64_t end = std::min(size(), offset + length);
    if (offset < 0 || offset >= end)
        return;
    const int change = Begin();
    std::fill(m_bytes.begin() + offset, m_bytes.begin() + end, 0);
    for (std::int64_t page = offset / Page; page <= (end - 1) / Page; ++page)
        Keep(page, change);
}

void PowerCutFile::Sync() {
    m_synced = m_bytes;
    m_changes = 0;
    m_versions.clear();
    m_sizes.clear();
}

PowerCutFile::Cut PowerCutFile::PowerCut(std::mt19937_64& random) const {
    Cut cut;
    cut.SyncedSize = static_cast<std::int64_t>(m_synced.size());
    cut.NewestSize = size();
    if (!unsynced()) {
        cut.Bytes = m_bytes;
        return cut;
    }
    enum class Mode { AllLost, AllKept, Mixed };
    const std::size_t roll = Pick(random, 8);
    const Mode mode = roll == 0 ? Mode::AllLost : roll == 1 ? Mode::AllKept : Mode::Mixed;

    // The size first: it decides which truncations survived, and an extending write's page with it.
    std::vector<SizeChange> sizes{{0, cut.SyncedSize, -1}};
    sizes.insert(sizes.end(), m_sizes.begin(), m_sizes.end());
    const SizeChange& size = mode == Mode::AllLost   ? sizes.front()
                             : mode == Mode::AllKept ? sizes.back()
                                                     : sizes[Pick(random, sizes.size())];

    cut.Bytes.assign(static_cast<std::size_t>(size.Size), 0);
    std::copy_n(m_synced.begin(), std::min(m_synced.size(), cut.Bytes.size()), cut.Bytes.begin());
    for (const auto& entry : m_versions) {
        // Not a structured binding: the lambda below refers to it, which Clang 14 does not allow.
        const std::int64_t page = entry.first;
        const std::vector<Version>& versions = entry.second;
        // Index 0 stands for the page as synced, n for versions[n - 1].
        std::vector<std::size_t> eligible{0};
        for (std::size_t n = 0; n < versions.size(); ++n)
            if (!versions[n].Cut || versions[n].Change <= size.Change)
                eligible.push_back(n + 1);
        std::size_t chosen = mode == Mode::AllLost   ? 0
                             : mode == Mode::AllKept ? eligible.back()
                                                     : eligible[Pick(random, eligible.size())];
        if (page == size.LastPage && (chosen == 0 || versions[chosen - 1].Change < size.Change)) {
            std::erase_if(eligible, [&](std::size_t n) { return n == 0 || versions[n - 1].Change < size.Change; });
            chosen = eligible[Pick(random, eligible.size())];
        }
        ++cut.Pages;
        if (chosen == versions.size())
            ++cut.Newest;
        else if (chosen == 0)
            ++cut.AsSynced;
        else
            ++cut.Between;
        if (chosen == 0 || page * Page >= size.Size)
            continue;
        const auto& image = versions[chosen - 1].Bytes;
        const std::size_t count = std::min<std::size_t>(Page, static_cast<std::size_t>(size.Size - page * Page));
        std::copy_n(image.begin(), count, cut.Bytes.begin() + page * Page);
    }
    return cut;
}

int PowerCutFile::Begin() {
    return ++m_changes;
}

void PowerCutFile::Keep(std::int64_t page, int change, bool cut) {
    m_versions[page].push_back({change, cut, PageOf(m_bytes, page)});
}

} // namespace veltrane::testsupport
