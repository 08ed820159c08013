#pragma once

#include <cstddef>
#include <new>

// Defined in a build with AddressSanitizer, which sees an access beyond a
// block only in memory from malloc, and runs its leak check among the exit
// handlers.
#if defined(__SANITIZE_ADDRESS__)
#define LUT_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LUT_ADDRESS_SANITIZER 1
#endif
#endif

// The memory of the large blocks a conversion works in: the tables, the
// read buffer, the output's text blocks and the parsed lines.
//
// A fresh 4 KiB page costs a fault the first time it is touched, and on a
// virtual machine each fault costs tens of microseconds: a 65-point cube's
// table alone would take some 800 of them. Blocks of kLargeBlock bytes or
// more are therefore mapped in whole 2 MiB spans, aligned to 2 MiB and
// marked for transparent huge pages, so that one fault brings in 2 MiB.
// A released block is kept (up to a bound) and handed out again for the
// next block of the same span, so the inputs of a batch reuse the memory
// the first one faulted in instead of faulting it in again. Smaller blocks
// come from malloc.
//
// Every function may be called from any thread.
namespace LutMemory {

constexpr std::size_t kLargeBlock = std::size_t(256) << 10;

// An uninitialised block of bytes; null when the memory cannot be had.
void *allocate(std::size_t bytes);
// A zero-filled block of bytes; null when the memory cannot be had.
void *allocateZeroed(std::size_t bytes);
// Gives back a block of allocate or allocateZeroed, with the size asked for.
void release(void *block, std::size_t bytes);
// The block grown or shrunk to newBytes, keeping the first of its bytes;
// null (with the block still held) when the memory cannot be had.
void *reallocate(void *block, std::size_t oldBytes, std::size_t newBytes);

// Keeps the C library's heap from being handed back to the system between
// the inputs of a batch (and faulted in again for the next): a trim
// threshold above what a conversion frees at once, and a threshold for
// separately mapped blocks as high as the library takes. For programs only:
// it sets the whole process's heap.
void keepHeap();

// For containers of large element counts (the lines of a block of text).
template <typename T>
struct Allocator
{
    using value_type = T;
    Allocator() = default;
    template <typename U>
    Allocator(const Allocator<U> &) noexcept
    {
    }
    T *allocate(std::size_t n)
    {
        if (n > std::size_t(-1) / sizeof(T))
            throw std::bad_alloc();
        void *block = LutMemory::allocate(n * sizeof(T));
        if (!block)
            throw std::bad_alloc();
        return static_cast<T *>(block);
    }
    void deallocate(T *block, std::size_t n) noexcept { LutMemory::release(block, n * sizeof(T)); }
    template <typename U>
    bool operator==(const Allocator<U> &) const noexcept
    {
        return true;
    }
    template <typename U>
    bool operator!=(const Allocator<U> &) const noexcept
    {
        return false;
    }
};

} // namespace LutMemory
