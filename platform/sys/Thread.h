#pragma once

#include "sys/MessageQueue.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace sys {

// What a worker shares with whoever started it. The running thread keeps its own reference, so
// the context outlives a `Thread` that gave up waiting for it.
class WorkerContext {
public:
    explicit WorkerContext(std::string name) : m_name(std::move(name)) {}

    const std::string& name() const { return m_name; }
    MessageQueue& queue() { return m_queue; }
    // Set by stop(); bodies poll it at least every 50 ms so a stop meets its bounded wait.
    bool cancelled() const { return m_cancelled.load(std::memory_order_acquire); }
    void cancel() { m_cancelled.store(true, std::memory_order_release); }

    void markFinished();
    bool waitFinished(unsigned timeoutMs);

private:
    const std::string m_name;
    MessageQueue m_queue;
    std::atomic<bool> m_cancelled{false};
    std::mutex m_lock;
    std::condition_variable m_finishedChanged;
    bool m_finished = false; // guarded by m_lock
};

// A named worker thread with its own message queue and a bounded stop.
//
// Threads are never killed: stop() sets the cancel flag, posts the quit code and waits. A body
// that still overruns is reported and detached; anything it uses must be kept alive by the body
// itself (capture shared_ptr), never borrowed from the owner.
class Thread {
public:
    using Body = std::function<void(WorkerContext&)>;

    Thread() = default;
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;
    // Stops the thread with a bounded wait of 5 s if it is still running.
    ~Thread();

    bool start(const std::string& name, Body body);
    bool running() const { return m_thread.joinable(); }
    bool isCurrent() const { return m_thread.get_id() == std::this_thread::get_id(); }

    bool post(int code, intptr_t param1 = 0, intptr_t param2 = 0);
    void requestCancel();
    // Waits for the body to return; true when it did within `timeoutMs` (the thread is joined).
    bool wait(unsigned timeoutMs);
    // Cancel, post the quit code, wait up to `timeoutMs`; false when the body overran and was
    // detached. Called from the thread itself it only requests the stop.
    bool stop(unsigned timeoutMs);

    WorkerContext* context() { return m_context.get(); }

private:
    std::shared_ptr<WorkerContext> m_context;
    std::thread m_thread;
};

} // namespace sys
