#pragma once
// Blocking work (a ping, a connect) run on a worker thread while the user-interface thread
// keeps handling events, so the window repaints and the wait animation keeps moving. The
// caller sees an ordinary blocking call: it returns work's result or rethrows its exception.
//
// Like every wait that dispatches events, other handlers may run inside it.
// Shutdown order: the worker is always joined before the call returns; a quit request
// during the wait does not cut the work short, it only ends the wait's event loop early,
// after which the call blocks until the work is done.
#include <QEventLoop>
#include <QTimer>

#include <atomic>
#include <exception>
#include <optional>
#include <thread>
#include <type_traits>

template <typename Work> auto RunKeepingEventsFlowing(Work&& work) -> std::invoke_result_t<Work&> {
    using Result = std::invoke_result_t<Work&>;
    QEventLoop loop;
    std::atomic<bool> done{false};
    std::exception_ptr failure;
    std::conditional_t<std::is_void_v<Result>, bool, std::optional<Result>> result{};
    std::thread worker([&] {
        try {
            if constexpr (std::is_void_v<Result>)
                work();
            else
                result.emplace(work());
        } catch (...) {
            failure = std::current_exception();
        }
        done.store(true);
    });
    // The wait looks at the flag on a short timer instead of being called from the worker:
    // nothing but the flag crosses the threads, and the end is seen within 10 ms.
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done.load())
            loop.quit();
    });
    poll.start();
    if (!done.load())
        loop.exec();
    worker.join();
    if (failure)
        std::rethrow_exception(failure);
    if constexpr (!std::is_void_v<Result>)
        return std::move(*result);
}
