// powercutfs MOUNTPOINT [FUSE OPTION]...: mounts the power-cut layer (PowerCutLayer) at MOUNTPOINT in
// the foreground, one request at a time, until it is unmounted. Its standard error gets each cut's
// report. The kernel is told to keep no attributes or names cached, so that a file's size and bytes
// after a cut are read from the layer again.

#define FUSE_USE_VERSION 31

#include "tests/fuse/powercutlayer.h"

#include <fuse.h>

#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>

using veltrane::testsupport::PowerCutLayer;

namespace {

PowerCutLayer& Layer() {
    return *static_cast<PowerCutLayer*>(fuse_get_context()->private_data);
}

// Kills the program whose change was the last that `stop N` let through, before it hears back, so that
// it makes no other. The context names the thread that asked; a SIGKILL to it ends its whole process.
int Stopping(int result) {
    if (Layer().TakeStop())
        ::kill(fuse_get_context()->pid, SIGKILL);
    return result;
}

void* Init(fuse_conn_info*, fuse_config* config) {
    config->use_ino = 1;
    config->hard_remove = 1;
    config->attr_timeout = 0;
    config->entry_timeout = 0;
    config->negative_timeout = 0;
    return fuse_get_context()->private_data;
}

int GetAttr(const char* path, struct stat* status, fuse_file_info*) {
    return Layer().Attributes(path, *status);
}

int ReadDir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*, fuse_readdir_flags) {
    if (std::string_view(path) != "/")
        return -ENOTDIR;
    fill(buffer, ".", nullptr, 0, fuse_fill_dir_flags{});
    fill(buffer, "..", nullptr, 0, fuse_fill_dir_flags{});
    for (const std::string& name : Layer().Names())
        fill(buffer, name.c_str(), nullptr, 0, fuse_fill_dir_flags{});
    return 0;
}

int Create(const char* path, mode_t mode, fuse_file_info* file) {
    file->direct_io = Layer().IsControl(path);
    return Layer().Create(path, mode);
}

int Open(const char* path, fuse_file_info* file) {
    // The report changes size behind the kernel's back: read it past any size the kernel believes.
    file->direct_io = Layer().IsControl(path);
    if (const int refused = Layer().Open(path))
        return refused;
    // The kernel leaves O_TRUNC to the open (atomic_o_trunc).
    return (file->flags & O_TRUNC) ? Layer().Truncate(path, 0) : 0;
}

int Read(const char* path, char* buffer, size_t size, off_t offset, fuse_file_info*) {
    return Layer().Read(path, offset, {reinterpret_cast<std::uint8_t*>(buffer), size});
}

int Write(const char* path, const char* data, size_t size, off_t offset, fuse_file_info*) {
    return Stopping(Layer().Write(path, offset, {reinterpret_cast<const std::uint8_t*>(data), size}));
}

int Truncate(const char* path, off_t length, fuse_file_info*) {
    return Stopping(Layer().Truncate(path, length));
}

int Fsync(const char* path, int, fuse_file_info*) {
    return Stopping(Layer().Sync(path));
}

int Fallocate(const char* path, int mode, off_t offset, off_t length, fuse_file_info*) {
    return Stopping(Layer().Allocate(path, mode, offset, length));
}

int Unlink(const char* path) {
    return Layer().Remove(path);
}

// Nothing to do: names are durable from the start, and a close syncs nothing.
int Flush(const char*, fuse_file_info*) {
    return 0;
}

int FsyncDir(const char*, int, fuse_file_info*) {
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s MOUNTPOINT [FUSE OPTION]...\n", argv[0]);
        return 2;
    }
    fuse_operations operations{};
    operations.init = Init;
    operations.getattr = GetAttr;
    operations.readdir = ReadDir;
    operations.create = Create;
    operations.open = Open;
    operations.read = Read;
    operations.write = Write;
    operations.truncate = Truncate;
    operations.fsync = Fsync;
    operations.fallocate = Fallocate;
    operations.unlink = Unlink;
    operations.flush = Flush;
    operations.fsyncdir = FsyncDir;

    std::vector<char*> arguments{argv[0], const_cast<char*>("-f"), const_cast<char*>("-s"), const_cast<char*>("-o"),
                                 const_cast<char*>("fsname=powercut,subtype=powercut")};
    arguments.insert(arguments.end(), argv + 1, argv + argc);
    // A check killed outright leaves no mount behind: the layer unmounts on SIGTERM.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    PowerCutLayer layer;
    return fuse_main(static_cast<int>(arguments.size()), arguments.data(), &operations, &layer);
}
