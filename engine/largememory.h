#pragma once

#include <cstddef>
#include <limits>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

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

/// Tables looked up at random and large buffers (the tally's, a phrase count's) take large memory.
/// A table made or grown to a size is not zeroed (its elements are default-initialized): tables
/// are filled after they are made, and writing hundreds of megabytes twice costs more than the
/// writing that fills them.
template<typename T>
struct TableAllocator
{
    using value_type = T;

    template<typename U>
    struct rebind
    {
        using other = TableAllocator<U>;
    };
    template<typename U>
    void construct(U *p) noexcept(std::is_nothrow_default_constructible_v<U>)
    {
        ::new (static_cast<void *>(p)) U;
    }
    template<typename U, typename... Args>
    void construct(U *p, Args &&...args)
    {
        ::new (static_cast<void *>(p)) U(std::forward<Args>(args)...);
    }

    TableAllocator() = default;
    template<typename U>
    TableAllocator(const TableAllocator<U> &) { }

    T *allocate(size_t n)
    {
        if (n > std::numeric_limits<size_t>::max() / sizeof(T))
            throw std::bad_alloc();
        return static_cast<T *>(allocateLarge(n * sizeof(T)));
    }
    void deallocate(T *p, size_t) { freeLarge(p); }

    template<typename U>
    bool operator==(const TableAllocator<U> &) const { return true; }
};

template<typename T>
using TableVector = std::vector<T, TableAllocator<T>>;

} // namespace corvalen
