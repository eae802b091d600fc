#include "sys/Thread.h"

#include "sys/Diag.h"
#include "sys/ThreadName.h"

#include <chrono>

namespace sys {

void WorkerContext::markFinished() {
    {
        std::lock_guard lock(m_lock);
        m_finished = true;
    }
    m_finishedChanged.notify_all();
}

bool WorkerContext::waitFinished(unsigned timeoutMs) {
    std::unique_lock lock(m_lock);
    return m_finishedChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                      [this] { return m_finished; });
}

Thread::~Thread() {
    if (running())
        stop(5000);
}

bool Thread::start(const std::string& name, Body body) {
    if (running())
        return false;
    auto context = std::make_shared<WorkerContext>(name);
    try {
        m_thread = std::thread([context, body = std::move(body)] {
            setCurrentThreadName(context->name().c_str());
            body(*context);
            context->markFinished();
        });
    } catch (const std::system_error& error) {
        diag("cannot start thread %s: %s", name.c_str(), error.what());
        return false;
    }
    m_context = std::move(context);
    return true;
}

bool Thread::post(int code, intptr_t param1, intptr_t param2) {
    return m_context && m_context->queue().post({code, param1, param2});
}

void Thread::requestCancel() {
    if (m_context)
        m_context->cancel();
}

bool Thread::wait(unsigned timeoutMs) {
    if (!running())
        return true;
    if (isCurrent() || !m_context->waitFinished(timeoutMs))
        return false;
    m_thread.join();
    return true;
}

bool Thread::stop(unsigned timeoutMs) {
    if (!running())
        return true;
    requestCancel();
    post(kQuitCode);
    if (isCurrent()) {
        // A body may end itself; the owner joins it later. Nothing to wait for here.
        m_thread.detach();
        return true;
    }
    if (wait(timeoutMs))
        return true;
    diag("thread %s did not stop within %u ms; detached", m_context->name().c_str(), timeoutMs);
    m_thread.detach();
    return false;
}

} // namespace sys
