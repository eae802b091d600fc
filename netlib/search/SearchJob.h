#pragma once

#include "core/CallbackGate.h"
#include "search/SearchWire.h"
#include "sys/Thread.h"
#include "zqnet/zqsearch.h"

#include <cstdint>
#include <map>
#include <netinet/in.h>
#include <vector>

namespace zq::search {

// The state of one search, shared by the handle and the search thread.
//
// The thread body holds it by shared_ptr, so a thread that overran its stop wait still finds it
// alive; the gate makes sure such a thread never calls the caller again.
class SearchJob {
public:
    static constexpr uint32_t kRepeatIntervalMs = 5000;
    static constexpr unsigned kWaitMs = 10;
    static constexpr int kDatagramsPerRound = 100;

    SearchJob(SearchCallback callback, void* user, int listenMs, bool repeat);

    // The search thread's body.
    void run(sys::WorkerContext& worker);
    // After this returns no callback is in progress and none follows.
    void closeGate() { m_gate.close(); }

private:
    enum class End { Done, Stopped, Quit, Failed };

    End listenOn(sys::WorkerContext& worker, size_t index, in_addr address);
    int openSocket(in_addr address);
    void sendRequest(int socket);
    // False when the caller asked to stop, or the search has been closed.
    bool report(int kind, const void* record, int length);

    const SearchCallback m_callback;
    void* const m_user;
    const uint32_t m_listenMs;
    const bool m_repeat;
    uint64_t m_totalMs = 0;
    // Replies are put together per sender: two cameras answering at once with replies split
    // over several datagrams would otherwise be glued into each other and both lost.
    ReplyAssembler& assemblerFor(const sockaddr_in& sender);
    std::map<uint64_t, ReplyAssembler> m_assemblers;
    CallbackGate m_gate; // held while the callback runs
    bool m_gateClosed = false;
};

} // namespace zq::search
