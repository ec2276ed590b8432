#include "engine/secretmemory.h"

#include <cstring>

#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace veltrane {

namespace {

std::size_t PageRounded(std::size_t bytes) {
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return (std::max<std::size_t>(bytes, 1) + page - 1) / page * page;
}

} // namespace

void* AllocateSecret(std::size_t bytes) {
    const std::size_t length = PageRounded(bytes);
    void* memory = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED)
        throw std::bad_alloc();
    MarkSecret(memory, length);
    return memory;
}

void FreeSecret(void* pointer, std::size_t bytes) noexcept {
    if (pointer == nullptr)
        return;
    const std::size_t length = PageRounded(bytes);
    ::explicit_bzero(pointer, length);
    ::munlock(pointer, length);
    ::munmap(pointer, length);
}

void KeepProcessOutOfCoreDumps() noexcept {
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    rlimit limit{};
    if (::getrlimit(RLIMIT_CORE, &limit) == 0) {
        limit.rlim_cur = 0;
        ::setrlimit(RLIMIT_CORE, &limit);
    }
}

void MarkSecret(void* pointer, std::size_t bytes) noexcept {
    // Out of core dumps always; in RAM only as far as RLIMIT_MEMLOCK allows (root or a raised
    // limit), which is no reason to refuse the work: the rest may go to swap.
    ::madvise(pointer, bytes, MADV_DONTDUMP);
    ::mlock(pointer, bytes);
}

} // namespace veltrane
