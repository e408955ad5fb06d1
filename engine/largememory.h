#pragma once

#include <cstddef>

namespace corvalen {

/// Memory for large tables looked up at random and buffers filled once. On Linux a block of
/// 2 MiB or more asks the kernel for huge pages: far fewer page faults and address-cache misses.
/// Throws std::bad_alloc when there is no memory.
void *allocateLarge(std::size_t bytes);
void freeLarge(void *memory);

struct LargeMemoryDeleter
{
    void operator()(void *memory) const { freeLarge(memory); }
};

} // namespace corvalen
