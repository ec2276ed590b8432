#pragma once
// Memory for key bytes and what is made from them (the key, the generator's tables, the keystream):
// locked into RAM where the process's limit allows, so that it never goes to swap, and left out of
// core dumps; wiped before it is given back. A page at least per allocation, so only for the few
// objects that hold such bytes.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <new>
#include <span>
#include <vector>

namespace veltrane {

// Throws std::bad_alloc when no memory can be had at all; locking is best effort.
void* AllocateSecret(std::size_t bytes);
void FreeSecret(void* pointer, std::size_t bytes) noexcept;
// Marks memory mapped elsewhere (page-aligned) the same way.
void MarkSecret(void* pointer, std::size_t bytes) noexcept;

template <class T> struct SecretAllocator {
    using value_type = T;
    SecretAllocator() = default;
    template <class U> SecretAllocator(const SecretAllocator<U>&) noexcept {}
    T* allocate(std::size_t count) { return static_cast<T*>(AllocateSecret(count * sizeof(T))); }
    void deallocate(T* pointer, std::size_t count) noexcept { FreeSecret(pointer, count * sizeof(T)); }
    template <class U> bool operator==(const SecretAllocator<U>&) const noexcept { return true; }
};

// Key bytes: a byte vector in secret memory, made from and compared with plain byte vectors.
class SecretBytes : public std::vector<std::uint8_t, SecretAllocator<std::uint8_t>> {
public:
    using Base = std::vector<std::uint8_t, SecretAllocator<std::uint8_t>>;
    SecretBytes() = default;
    SecretBytes(std::initializer_list<std::uint8_t> bytes) : Base(bytes) {}
    SecretBytes(std::span<const std::uint8_t> bytes) : Base(bytes.begin(), bytes.end()) {}
    SecretBytes(const std::vector<std::uint8_t>& bytes) : Base(bytes.begin(), bytes.end()) {}
    SecretBytes& operator=(const std::vector<std::uint8_t>& bytes) {
        assign(bytes.begin(), bytes.end());
        return *this;
    }
    SecretBytes& operator=(std::initializer_list<std::uint8_t> bytes) {
        assign(bytes.begin(), bytes.end());
        return *this;
    }
    bool operator==(const std::vector<std::uint8_t>& other) const {
        return size() == other.size() && std::equal(begin(), end(), other.begin());
    }
};

// Keeps the process from writing a core dump, and from being read by another process of the same user
// (ptrace, /proc/PID/mem), from here on: the key text the front ends hold (a key box, a key line) is
// not in secret memory.
void KeepProcessOutOfCoreDumps() noexcept;

// Gives a class's objects secret memory when they are made with new.
#define VELTRANE_SECRET_OBJECTS                                                                                       \
    static void* operator new(std::size_t bytes) { return ::veltrane::AllocateSecret(bytes); }                       \
    static void operator delete(void* pointer, std::size_t bytes) noexcept { ::veltrane::FreeSecret(pointer, bytes); } \
    static void* operator new[](std::size_t bytes) { return ::veltrane::AllocateSecret(bytes); }                     \
    static void operator delete[](void* pointer, std::size_t bytes) noexcept { ::veltrane::FreeSecret(pointer, bytes); }

} // namespace veltrane
