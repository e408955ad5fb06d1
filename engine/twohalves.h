#pragma once

// Work on large tables split between two threads: this one and one started for it. A failure on
// either is thrown here once both have ended.

#include <cstddef>
#include <exception>
#include <thread>

namespace corvalen {

/// Runs first() on a second thread and second() here, then throws what either threw. When the
/// system will not start a thread, both run here, first() first.
template<typename First, typename Second>
void onTwoThreads(First &&first, Second &&second)
{
    std::exception_ptr failure;
    std::thread other;
    try {
        other = std::thread([&] {
            try {
                first();
            } catch (...) {
                failure = std::current_exception();
            }
        });
    } catch (...) {
        first();
        second();
        return;
    }
    try {
        second();
    } catch (...) {
        other.join();
        throw;
    }
    other.join();
    if (failure)
        std::rethrow_exception(failure);
}

/// Runs work(0, size / 2) and work(size / 2, size), on two threads when size is large.
template<typename Work>
void inTwoHalves(std::size_t size, Work &&work)
{
    if (size < 65536) {
        work(std::size_t(0), size);
        return;
    }
    onTwoThreads([&] { work(std::size_t(0), size / 2); }, [&] { work(size / 2, size); });
}

/// Runs work(0) and work(1), on two threads when size is large.
template<typename Work>
void eachHalf(std::size_t size, Work &&work)
{
    if (size < 65536) {
        work(std::size_t(0));
        work(std::size_t(1));
        return;
    }
    onTwoThreads([&] { work(std::size_t(0)); }, [&] { work(std::size_t(1)); });
}

} // namespace corvalen
