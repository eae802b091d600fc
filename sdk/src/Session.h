#pragma once

#include "Connection.h"
#include "Notifier.h"
#include "Registry.h"
#include "Tuning.h"
#include "Worker.h"

#include <poll.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace moltrex {

// A request from an export to a session thread: the thread message 1024 + n with what it
// carries. Ownership passes to the session with the post.
struct Request {
    int code = 0;
    uint32_t value1 = 0;
    uint32_t value2 = 0;
    std::vector<uint8_t> bytes; // a record, already packed
    std::string path;
};

// Opcodes both sessions share on their first channel.
enum : uint16_t {
    kOpLogin = 0,
    kOpLoginAnswer = 1,
    kOpVerify = 2,
    kOpVerifyAnswer = 3,
    kOpKeepAlive = 255,
};

struct Endpoint {
    std::string id;
    std::string user;
    std::string password;
    uint32_t ip = 0; // host order
    uint16_t port = 0;
};

// What both session kinds share: the thread, the connection and login on the first channel,
// keep-alive, the request queue, and the end of the session.
//
// Everything runs on the session's own thread, except start(), post() and requestStop(), which
// the registry calls under its lock.
class Session : public Worker {
public:
    Session(SessionKind kind, Endpoint endpoint, const Target& target, const Tuning& tuning);

    SessionKind kind() const { return m_kind; }
    const std::string& id() const { return m_endpoint.id; }

    bool start();
    bool post(std::unique_ptr<Request> request);
    void requestStop();

protected:
    // A message of the first channel after the login.
    virtual void onMessage(const Message& message) = 0;
    // A request of the host; MO_OK, or the status that ends the session.
    virtual int onRequest(Request& request) = 0;
    virtual void afterLogin() {}
    // Further descriptors to wait on (the monitor's video channel), and their handling after the
    // wait, with the timers: MO_OK or the status that ends the session.
    virtual void addPollEntries(std::vector<pollfd>& /*entries*/) {}
    virtual int afterPoll(const std::vector<pollfd>& /*entries*/) { return 0; }
    // The session is about to report its end: last chance to hand on what it holds.
    virtual void beforeEnd() {}

    unsigned loginMessage() const;
    unsigned endMessage() const;
    int send(uint16_t opcode, const std::vector<uint8_t>& payload = {});
    // 22xx/23xx notification with a copy of the camera id.
    void notify(unsigned message, MO_LPARAM lParam, bool lParamOwned = false) const;
    Cancelled cancelled() const;

    Connection m_connection;
    const Endpoint m_endpoint;
    const Tuning m_tuning;
    const Notifier m_notifier;

private:
    void run(sys::WorkerContext& worker);
    int connectAndLogin();
    int await(uint16_t opcode, size_t minPayload, uint32_t startMs, Message& out);
    int serve();
    int readFirstChannel();
    bool runRequests(int& status);
    void drainQueue();

    const SessionKind m_kind;
    sys::WorkerContext* m_worker = nullptr; // the running thread's context
    uint32_t m_lastKeepAliveMs = 0;
};

} // namespace moltrex
