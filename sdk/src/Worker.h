#pragma once

#include "sys/Thread.h"

#include <memory>

namespace moltrex {

// Something that runs on a thread of its own: a search, a set-up or a session. The registry
// keeps it alive until its thread has been joined; the thread's body keeps its own reference,
// so the worker outlives a registry that gave up waiting for it.
class Worker : public std::enable_shared_from_this<Worker> {
public:
    virtual ~Worker() = default;
    sys::Thread& thread() { return m_thread; }

protected:
    sys::Thread m_thread;
};

} // namespace moltrex
