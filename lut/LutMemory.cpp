#include "lut/LutMemory.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <malloc.h>
#include <sys/mman.h>

namespace LutMemory {

namespace {

// Under AddressSanitizer every block comes from malloc, where the sanitizer
// sees an access beyond it; in mapped spans it would not.
#ifdef LUT_ADDRESS_SANITIZER
constexpr std::size_t kMapped = std::size_t(-1);
#else
constexpr std::size_t kMapped = kLargeBlock;
#endif

constexpr std::size_t kHugePage = std::size_t(2) << 20;
// What the kept blocks may hold together, and the largest block kept: a
// batch of 65-point cubes keeps a few spans of 2 to 4 MiB; a 256-point
// table (200 MB) goes back to the system when released.
constexpr std::size_t kKeptBytes = std::size_t(64) << 20;
constexpr int kKeptBlocks = 16;

std::size_t spanOf(std::size_t bytes)
{
    return (bytes + kHugePage - 1) & ~(kHugePage - 1);
}

struct Kept
{
    void *block;
    std::size_t span;
};

struct Store
{
    std::mutex mutex;
    Kept kept[kKeptBlocks];
    int count = 0;
    std::size_t bytes = 0;
};

Store &store()
{
    static Store *const made = new Store; // never destroyed: blocks may be released during exit
    return *made;
}

// A kept block of exactly span bytes, or null.
void *takeKept(std::size_t span)
{
    Store &s = store();
    const std::lock_guard<std::mutex> lock(s.mutex);
    for (int i = 0; i < s.count; ++i) {
        if (s.kept[i].span == span) {
            void *block = s.kept[i].block;
            s.kept[i] = s.kept[--s.count];
            s.bytes -= span;
            return block;
        }
    }
    return nullptr;
}

// Drops kept blocks until room more bytes fit under the bound.
void makeRoom(std::size_t room)
{
    Store &s = store();
    Kept dropped[kKeptBlocks];
    int drop = 0;
    {
        const std::lock_guard<std::mutex> lock(s.mutex);
        while (s.count > 0 && s.bytes + room > kKeptBytes) {
            dropped[drop++] = s.kept[--s.count];
            s.bytes -= dropped[drop - 1].span;
        }
    }
    for (int i = 0; i < drop; ++i)
        ::munmap(dropped[i].block, dropped[i].span);
}

// A fresh span of zero pages, aligned to 2 MiB and marked for huge pages.
void *mapSpan(std::size_t span)
{
    // Memory kept for reuse counts against what is mapped now: a bigger job
    // after smaller ones does not hold both.
    makeRoom(span);
    void *raw = ::mmap(nullptr, span + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        return nullptr;
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + kHugePage - 1) & ~std::uintptr_t(kHugePage - 1);
    if (aligned > start)
        ::munmap(raw, aligned - start);
    const std::uintptr_t tail = aligned + span;
    if (start + span + kHugePage > tail)
        ::munmap(reinterpret_cast<void *>(tail), start + span + kHugePage - tail);
    void *block = reinterpret_cast<void *>(aligned);
    // Without huge pages (the system's setting "never") the span still works
    // in small pages.
    ::madvise(block, span, MADV_HUGEPAGE);
    return block;
}

void *large(std::size_t bytes, bool zeroed)
{
    const std::size_t span = spanOf(bytes);
    if (span < bytes)
        return nullptr;
    if (void *block = takeKept(span)) {
        if (zeroed)
            std::memset(block, 0, bytes);
        return block;
    }
    return mapSpan(span);
}

} // namespace

void *allocate(std::size_t bytes)
{
    return bytes >= kMapped ? large(bytes, false) : std::malloc(bytes ? bytes : 1);
}

void *allocateZeroed(std::size_t bytes)
{
    return bytes >= kMapped ? large(bytes, true) : std::calloc(bytes ? bytes : 1, 1);
}

void release(void *block, std::size_t bytes)
{
    if (!block)
        return;
    if (bytes < kMapped) {
        std::free(block);
        return;
    }
    const std::size_t span = spanOf(bytes);
    if (span <= kKeptBytes / 4) {
        Store &s = store();
        const std::lock_guard<std::mutex> lock(s.mutex);
        if (s.count < kKeptBlocks && s.bytes + span <= kKeptBytes) {
            s.kept[s.count++] = Kept{block, span};
            s.bytes += span;
            return;
        }
    }
    ::munmap(block, span);
}

void *reallocate(void *block, std::size_t oldBytes, std::size_t newBytes)
{
    if (!block)
        return allocate(newBytes);
    if (oldBytes < kMapped && newBytes < kMapped)
        return std::realloc(block, newBytes ? newBytes : 1);
    if (oldBytes >= kMapped && newBytes >= kMapped && spanOf(oldBytes) == spanOf(newBytes))
        return block;
    void *moved = allocate(newBytes);
    if (!moved)
        return nullptr;
    std::memcpy(moved, block, std::min(oldBytes, newBytes));
    release(block, oldBytes);
    return moved;
}

void keepHeap()
{
    ::mallopt(M_MMAP_THRESHOLD, 32 << 20);
    ::mallopt(M_TRIM_THRESHOLD, 128 << 20);
}

} // namespace LutMemory
