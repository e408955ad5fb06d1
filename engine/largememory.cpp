#include "engine/largememory.h"

#include <QtGlobal>

#if defined(Q_OS_LINUX)
#include <sys/mman.h>
#endif

#include <cstdlib>
#include <new>

namespace corvalen {

void *allocateLarge(std::size_t bytes)
{
    void *memory = nullptr;
#if defined(Q_OS_LINUX) && defined(MADV_HUGEPAGE)
    constexpr std::size_t kHuge = std::size_t(2) << 20;
    if (bytes >= kHuge) {
        const std::size_t rounded = (bytes + kHuge - 1) / kHuge * kHuge;
        memory = std::aligned_alloc(kHuge, rounded);
        if (memory)
            madvise(memory, rounded, MADV_HUGEPAGE);
    } else {
        memory = std::malloc(bytes);
    }
#else
    memory = std::malloc(bytes);
#endif
    if (!memory)
        throw std::bad_alloc();
    return memory;
}

void freeLarge(void *memory)
{
    std::free(memory);
}

} // namespace corvalen
