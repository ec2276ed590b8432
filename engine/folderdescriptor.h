#pragma once
// A folder held open by its descriptor. A name looked up relative to it is looked up in the very folder
// that was opened, wherever its path leads by then (renamed, replaced, swapped for a symbolic link),
// and however long that path is. Shared by everything found in the folder; closed with the last user.

namespace veltrane {

class FolderDescriptor {
public:
    // Takes over `fd`, an open folder.
    explicit FolderDescriptor(int fd) noexcept : m_fd(fd) {}
    ~FolderDescriptor();
    FolderDescriptor(const FolderDescriptor&) = delete;
    FolderDescriptor& operator=(const FolderDescriptor&) = delete;

    int fd() const { return m_fd; }

private:
    int m_fd;
};

} // namespace veltrane
