// The search family: zq_search_devices and zq_close_search.

#include "exports/Guard.h"
#include "search/SearchJob.h"
#include "zqnet/zqsearch.h"

#include <memory>
#include <new>

// What a search handle points to: the thread and the state it shares with the thread.
struct SearchHandle {
    std::shared_ptr<zq::search::SearchJob> job;
    sys::Thread thread;
};

namespace {
constexpr unsigned kStopWaitMs = 500;
}

ZQ_API SearchHandle* ZQ_CALL zq_search_devices(SearchCallback callback, void* user, int listenMs,
                                               int repeat) {
    return zq::guarded<SearchHandle*>(nullptr, [&]() -> SearchHandle* {
        if (callback == nullptr)
            return nullptr;
        auto handle = std::make_unique<SearchHandle>();
        handle->job =
            std::make_shared<zq::search::SearchJob>(callback, user, listenMs, repeat != 0);
        if (!handle->thread.start(
                "ZqSearch", [job = handle->job](sys::WorkerContext& worker) { job->run(worker); }))
            return nullptr;
        return handle.release();
    });
}

ZQ_API void ZQ_CALL zq_close_search(SearchHandle* handle) {
    zq::guarded<int>(0, [&] {
        if (handle == nullptr)
            return 0;
        std::unique_ptr<SearchHandle> owned(handle);
        owned->thread.stop(kStopWaitMs);
        owned->job->closeGate();
        return 0;
    });
}
