#pragma once

#include "sys/Thread.h"
#include "sys/Tick.h"
#include "zqnet/CHttpParser.h"

namespace zq {

// Stops a thread that may be inside an HTTP request. Each new request re-arms its parser, so
// the quit is repeated until the thread is out or `waitMs` has passed.
inline bool stopAbortingHttp(sys::Thread& thread, CHttpParser& http, unsigned waitMs) {
    thread.requestCancel();
    thread.post(sys::kQuitCode);
    const uint32_t start = sys::tickMs();
    while (thread.running() && sys::elapsedMs(start) < waitMs) {
        http.userQuit();
        if (thread.wait(20))
            return true;
    }
    return thread.stop(0);
}

} // namespace zq
