#pragma once

#include "engine/taskpool.h"

#include <QFuture>
#include <QPromise>

#include <exception>
#include <functional>
#include <memory>
#include <type_traits>

namespace corvalen {

/// The pool of the windows' short background works (a folder scan, a word list's index, a find,
/// an order): a work handed to it is never lost, even when the system will start no thread (Qt's
/// own pool then keeps it for ever, and whoever waits for it waits for ever); it then runs on the
/// thread that hands it over.
TaskPool &backgroundPool();

/// Runs work on the background pool; the future ends when it has (a QFutureWatcher tells the
/// window). What work throws is kept in the future: result() throws it again.
template<typename Work>
auto runInBackground(Work work) -> QFuture<std::invoke_result_t<Work>>
{
    using Result = std::invoke_result_t<Work>;
    auto promise = std::make_shared<QPromise<Result>>();
    QFuture<Result> future = promise->future();
    promise->start();
    backgroundPool().start([promise, work = std::move(work)]() mutable {
        try {
            if constexpr (std::is_void_v<Result>)
                work();
            else
                promise->addResult(work());
        } catch (...) {
            promise->setException(std::current_exception());
        }
        promise->finish();
    });
    return future;
}

} // namespace corvalen
