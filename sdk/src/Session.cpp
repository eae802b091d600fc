#include "Session.h"

#include "Fields.h"
#include "Records.h"

#include "Heap.h"

#include "sys/Tick.h"

#include <cstring>

namespace moltrex {

namespace {

// Internal: the host ended the session before the login finished. Beyond any 16-bit status.
constexpr int kCancelled = 0x10000;

// The first channel is read in slices this long, so requests wait at most that for the thread.
constexpr int kPollSliceMs = 20;
// Messages taken from one channel in one round, so a flooding camera cannot starve the rest.
constexpr int kMessagesPerRound = 64;

Channel firstChannel(SessionKind kind) {
    return kind == SessionKind::Management ? Channel::Management : Channel::Operation;
}

} // namespace

Session::Session(SessionKind kind, Endpoint endpoint, const Target& target, const Tuning& tuning)
    : m_connection(firstChannel(kind)), m_endpoint(std::move(endpoint)), m_tuning(tuning),
      m_notifier(target, tuning.postRetryIntervalMs, tuning.postRetries), m_kind(kind) {}

bool Session::start() {
    auto self = std::static_pointer_cast<Session>(shared_from_this());
    return m_thread.start(m_kind == SessionKind::Management ? "mo_mgr" : "mo_monitor",
                          [self](sys::WorkerContext& worker) { self->run(worker); });
}

bool Session::post(std::unique_ptr<Request> request) {
    const int code = request->code;
    if (!m_thread.post(code, reinterpret_cast<intptr_t>(request.get())))
        return false;
    request.release(); // the session's thread owns it now
    return true;
}

void Session::requestStop() {
    m_thread.requestCancel();
    m_thread.post(sys::kQuitCode);
}

unsigned Session::loginMessage() const {
    return m_kind == SessionKind::Management ? MO_MSG_MGR_LOGIN : MO_MSG_MONITOR_LOGIN;
}

unsigned Session::endMessage() const {
    return m_kind == SessionKind::Management ? MO_MSG_MGR_END : MO_MSG_MONITOR_END;
}

Cancelled Session::cancelled() const {
    sys::WorkerContext* worker = m_worker;
    return [worker] { return worker != nullptr && worker->cancelled(); };
}

int Session::send(uint16_t opcode, const std::vector<uint8_t>& payload) {
    return m_connection.send(opcode, payload, m_tuning.sendTimeoutMs, cancelled());
}

void Session::notify(unsigned message, MO_LPARAM lParam, bool lParamOwned) const {
    if (Registry::instance().closing()) {
        if (lParamOwned)
            heap::release(reinterpret_cast<void*>(lParam));
        return;
    }
    m_notifier.postForCamera(message, m_endpoint.id.c_str(), lParam, lParamOwned);
}

void Session::run(sys::WorkerContext& worker) {
    m_worker = &worker;
    int status = connectAndLogin();
    if (status == MO_OK) {
        m_lastKeepAliveMs = sys::tickMs();
        afterLogin();
        notify(loginMessage(), MO_OK);
        status = serve();
    } else if (status == kCancelled) {
        status = MO_OK; // the host ended it before the login finished: only the end is reported
    } else {
        notify(loginMessage(), status);
    }
    beforeEnd();
    m_connection.close();
    // From here on no export finds this session, so nothing new can arrive in its queue.
    Registry::instance().sessionEnded(std::static_pointer_cast<Session>(shared_from_this()));
    drainQueue();
    notify(endMessage(), status);
}

int Session::connectAndLogin() {
    switch (m_connection.connect(m_endpoint.ip, m_endpoint.port, m_tuning.connectTimeoutMs,
                                 cancelled())) {
    case IoResult::Ok:
        break;
    case IoResult::TimedOut:
        return MO_ERR_TIMEOUT;
    case IoResult::Cancelled:
        return kCancelled;
    case IoResult::Failed:
        return MO_ERR_CONNECT;
    }
    const uint32_t startMs = sys::tickMs();
    int status = send(kOpLogin);
    if (status != MO_OK)
        return m_worker->cancelled() ? kCancelled : status;
    Message answer;
    // Status, camera id, then the protocol version and the two firmware versions.
    if ((status = await(kOpLoginAnswer, 2 + 13 + 12, startMs, answer)) != MO_OK)
        return status;
    FieldReader in(answer.payload);
    const uint16_t cameraStatus = in.u16();
    char cameraId[MO_ID_SIZE];
    in.text(cameraId, sizeof cameraId);
    const uint32_t version = in.u32();
    if (cameraStatus != 0)
        return cameraStatus;
    if (m_endpoint.id != cameraId)
        return MO_ERR_CAMERA_ID;
    if (version > kProtocolVersion)
        return MO_ERR_VERSION;

    FieldWriter verify;
    verify.text(m_endpoint.user.c_str(), MO_USER_SIZE);
    verify.text(m_endpoint.password.c_str(), MO_USER_SIZE);
    if ((status = send(kOpVerify, verify.data())) != MO_OK)
        return m_worker->cancelled() ? kCancelled : status;
    if ((status = await(kOpVerifyAnswer, 2, sys::tickMs(), answer)) != MO_OK)
        return status;
    return FieldReader(answer.payload).u16();
}

// Waits for `opcode` with at least `minPayload` bytes, dropping every other message.
int Session::await(uint16_t opcode, size_t minPayload, uint32_t startMs, Message& out) {
    while (sys::elapsedMs(startMs) < m_tuning.loginTimeoutMs) {
        if (m_worker->cancelled())
            return kCancelled;
        pollfd entry{m_connection.fd(), POLLIN, 0};
        ::poll(&entry, 1, kPollSliceMs);
        for (int i = 0; i < kMessagesPerRound; ++i) {
            switch (m_connection.read(out)) {
            case Connection::Read::Message:
                if (out.opcode == opcode && out.payload.size() >= minPayload)
                    return MO_OK;
                continue;
            case Connection::Read::Nothing:
                break;
            case Connection::Read::Closed:
                return MO_ERR_SOCKET;
            case Connection::Read::Broken:
                return MO_ERR_PROTOCOL;
            }
            break;
        }
    }
    return MO_ERR_TIMEOUT;
}

int Session::serve() {
    std::vector<pollfd> entries;
    for (;;) {
        if (m_worker->cancelled())
            return MO_OK;
        entries.assign(1, pollfd{m_connection.fd(), POLLIN, 0});
        addPollEntries(entries);
        ::poll(entries.data(), entries.size(), kPollSliceMs);

        int status = readFirstChannel();
        if (status == MO_OK)
            status = afterPoll(entries);
        if (status != MO_OK)
            return status;
        if (!runRequests(status))
            return MO_OK;
        if (status != MO_OK)
            return status;
        // Keep-alive: due when the interval passed since the last one, whatever else was sent.
        if (sys::elapsedMs(m_lastKeepAliveMs) >= m_tuning.keepAliveMs) {
            m_lastKeepAliveMs = sys::tickMs();
            if ((status = send(kOpKeepAlive)) != MO_OK)
                return status;
        }
    }
}

int Session::readFirstChannel() {
    Message message;
    for (int i = 0; i < kMessagesPerRound; ++i) {
        switch (m_connection.read(message)) {
        case Connection::Read::Message:
            onMessage(message);
            continue;
        case Connection::Read::Nothing:
            return MO_OK;
        case Connection::Read::Closed:
            return MO_ERR_SOCKET;
        case Connection::Read::Broken:
            return MO_ERR_PROTOCOL;
        }
    }
    return MO_OK;
}

bool Session::runRequests(int& status) {
    status = MO_OK;
    while (auto message = m_worker->queue().peek()) {
        if (message->code == sys::kQuitCode)
            return false;
        std::unique_ptr<Request> request(reinterpret_cast<Request*>(message->param1));
        if (!request)
            continue;
        status = onRequest(*request);
        if (status != MO_OK)
            return true;
    }
    return true;
}

void Session::drainQueue() {
    while (auto message = m_worker->queue().peek()) {
        if (message->code != sys::kQuitCode)
            delete reinterpret_cast<Request*>(message->param1);
    }
}

} // namespace moltrex
