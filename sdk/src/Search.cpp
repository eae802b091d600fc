#include "Search.h"

#include "Heap.h"
#include "Message.h"
#include "Records.h"
#include "Registry.h"
#include "Socket.h"

#include "sys/Tick.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <optional>
#include <vector>

namespace moltrex {

namespace {

enum : uint16_t {
    kOpSearch = 0,
    kOpSearchAnswer = 1,
    kOpSetup = 2,
    kOpSetupAnswer = 3,
};

constexpr int kPollSliceMs = 50;

// A search or a set-up: one UDP socket, one request, the answers until the time-out.
class Exchange : public Worker {
public:
    Exchange(const Target& target, const Tuning& tuning)
        : m_tuning(tuning), m_notifier(target, tuning.postRetryIntervalMs, tuning.postRetries) {}

    void run(sys::WorkerContext& worker) {
        m_worker = &worker;
        const int status = exchange();
        m_socket.close();
        Registry& registry = Registry::instance();
        // The flag is free before the host hears the end, so it may search again from there.
        registry.endSearch();
        registry.jobEnded(shared_from_this());
        if (!registry.closing())
            finish(status);
    }

protected:
    virtual int exchange() = 0;
    virtual void finish(int status) = 0;

    // Opens the socket and sends the request; MO_OK or MO_ERR_SOCKET.
    int sendRequest(uint16_t opcode, const std::vector<uint8_t>& payload) {
        m_socket = openUdp(m_tuning.searchLocalPort);
        if (!m_socket.valid())
            return MO_ERR_SOCKET;
        const std::vector<uint8_t> bytes = encodeMessage(Channel::Search, opcode, payload);
        return sendDatagram(m_socket.fd(), m_tuning.searchAddress, m_tuning.searchPort,
                            bytes.data(), bytes.size())
                   ? MO_OK
                   : MO_ERR_SOCKET;
    }

    // Waits up to `waitMs` for one accepted "MO_I" datagram; MO_OK with `out` set,
    // MO_ERR_TIMEOUT, MO_ERR_SOCKET, or MO_ERR_TIMEOUT when cancelled.
    int receive(uint32_t waitMs, Message& out) {
        const uint32_t start = sys::tickMs();
        for (;;) {
            if (m_worker->cancelled())
                return MO_ERR_TIMEOUT;
            const uint32_t spent = sys::elapsedMs(start);
            if (spent >= waitMs)
                return MO_ERR_TIMEOUT;
            pollfd entry{m_socket.fd(), POLLIN, 0};
            const int ready = ::poll(
                &entry, 1, static_cast<int>(std::min<uint32_t>(waitMs - spent, kPollSliceMs)));
            if (ready < 0 && errno != EINTR)
                return MO_ERR_SOCKET;
            if (ready <= 0)
                continue;
            const ssize_t got =
                ::recv(m_socket.fd(), m_buffer.data(), m_buffer.size(), MSG_DONTWAIT | MSG_TRUNC);
            if (got < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                    continue;
                return MO_ERR_SOCKET;
            }
            // MSG_TRUNC reports a datagram's real size, so one longer than the buffer fails the
            // length check instead of passing as its first 102400 bytes.
            if (static_cast<size_t>(got) > m_buffer.size())
                continue;
            if (auto message =
                    parseDatagram(m_buffer.data(), static_cast<size_t>(got), Channel::Search)) {
                out = std::move(*message);
                return MO_OK;
            }
        }
    }

    const Tuning m_tuning;
    const Notifier m_notifier;
    sys::WorkerContext* m_worker = nullptr;

private:
    Socket m_socket;
    std::vector<uint8_t> m_buffer = std::vector<uint8_t>(kReceiveBufferBytes);
};

class SearchExchange final : public Exchange {
public:
    SearchExchange(const Target& target, const Tuning& tuning, uint32_t waitMs)
        : Exchange(target, tuning), m_waitMs(waitMs) {}

private:
    // Every answer is passed on as it comes; the search ends at the first wait without one, or
    // when the whole search has lasted its limit or heard its most answers.
    int exchange() override {
        int status = sendRequest(kOpSearch, encodeSearchRequest());
        if (status != MO_OK)
            return status;
        const uint64_t limitMs = static_cast<uint64_t>(m_waitMs) * m_tuning.searchWaitsPerSearch;
        const uint32_t start = sys::tickMs();
        uint32_t answers = 0;
        for (;;) {
            const uint32_t spent = sys::elapsedMs(start);
            if (spent >= limitMs || answers >= m_tuning.maxSearchAnswers)
                return MO_ERR_TIMEOUT;
            Message message;
            status = receive(static_cast<uint32_t>(std::min<uint64_t>(m_waitMs, limitMs - spent)),
                             message);
            if (status != MO_OK)
                return status;
            if (message.opcode != kOpSearchAnswer)
                continue; // our own request, heard back from the broadcast, among others
            const auto record = parseSearchAnswer(message.payload);
            if (!record)
                continue;
            ++answers;
            if (auto* copy = heap::make(*record))
                m_notifier.post(MO_MSG_SEARCH, static_cast<MO_WPARAM>(MO_OK),
                                reinterpret_cast<MO_LPARAM>(copy), Owned::LParam);
        }
    }

    void finish(int status) override {
        m_notifier.post(MO_MSG_SEARCH, static_cast<MO_WPARAM>(static_cast<intptr_t>(status)), 0,
                        Owned::None);
    }

    const uint32_t m_waitMs;
};

class SetupExchange final : public Exchange {
public:
    SetupExchange(const Target& target, const Tuning& tuning, std::vector<uint8_t> payload,
                  uint32_t timeoutMs)
        : Exchange(target, tuning), m_payload(std::move(payload)), m_timeoutMs(timeoutMs) {}

private:
    // The first set-up answer within the time-out ends it with the camera's status.
    int exchange() override {
        int status = sendRequest(kOpSetup, m_payload);
        if (status != MO_OK)
            return status;
        const uint32_t start = sys::tickMs();
        for (;;) {
            const uint32_t spent = sys::elapsedMs(start);
            if (spent >= m_timeoutMs)
                return MO_ERR_TIMEOUT;
            Message message;
            if ((status = receive(m_timeoutMs - spent, message)) != MO_OK)
                return status;
            if (message.opcode == kOpSetupAnswer && message.payload.size() >= 2)
                return message.payload[0] | message.payload[1] << 8;
        }
    }

    void finish(int status) override {
        m_notifier.post(MO_MSG_INIT, static_cast<MO_WPARAM>(static_cast<intptr_t>(status)), 0,
                        Owned::None);
    }

    const std::vector<uint8_t> m_payload;
    const uint32_t m_timeoutMs;
};

int16_t startExchange(const std::shared_ptr<Exchange>& exchange, const char* threadName) {
    Registry& registry = Registry::instance();
    if (!registry.beginSearch())
        return MO_ERR_BUSY;
    const bool started = registry.startJob(
        exchange, threadName, [exchange](sys::WorkerContext& worker) { exchange->run(worker); });
    if (!started) {
        registry.endSearch();
        return MO_ERR_START;
    }
    return MO_OK;
}

} // namespace

int16_t startSearch(const Target& target, uint32_t timeoutMs) {
    const Tuning settings = tuning();
    const uint32_t waitMs =
        std::clamp<uint32_t>(timeoutMs, 1000, std::max<uint32_t>(1000, settings.maxSearchWaitMs));
    return startExchange(std::make_shared<SearchExchange>(target, settings, waitMs), "mo_search");
}

int16_t startSetup(const MO_INIT_RECORD& record, const Target& target, uint32_t timeoutMs) {
    auto payload = encodeSetupRequest(record);
    if (!payload)
        return MO_ERR_PARAM;
    const Tuning settings = tuning();
    const uint32_t waitMs =
        std::clamp<uint32_t>(timeoutMs, 3000, std::max<uint32_t>(3000, settings.maxSearchWaitMs));
    return startExchange(
        std::make_shared<SetupExchange>(target, settings, std::move(*payload), waitMs), "mo_setup");
}

} // namespace moltrex
