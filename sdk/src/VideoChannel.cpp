#include "VideoChannel.h"

#include "Fields.h"

#include "sys/Tick.h"

namespace moltrex {

namespace {

constexpr uint16_t kOpVideoLogin = 0;
// Messages taken in one round, so a flooding camera cannot starve the operation channel.
constexpr int kMessagesPerRound = 64;

} // namespace

VideoChannel::VideoChannel(uint32_t ip, uint16_t port, const Tuning& tuning)
    : m_ip(ip), m_port(port), m_tuning(tuning) {}

void VideoChannel::open(uint32_t connectionId) {
    if (m_state != State::Idle)
        return;
    m_connectionId = connectionId;
    m_state = State::Connecting;
    m_openedMs = sys::tickMs();
    m_lastAttemptMs = m_openedMs;
    m_connection.adopt(startConnect(m_ip, m_port));
    m_waitingToRetry = !m_connection.open();
}

void VideoChannel::close() {
    m_connection.close();
    m_state = State::Idle;
    m_waitingToRetry = false;
}

void VideoChannel::retryLater() {
    m_connection.close();
    m_state = State::Connecting;
    m_waitingToRetry = true;
}

bool VideoChannel::sendLogin(const Cancelled& cancelled) {
    FieldWriter payload;
    payload.u32(m_connectionId);
    m_lastAttemptMs = sys::tickMs();
    return m_connection.send(kOpVideoLogin, payload.data(), m_tuning.sendTimeoutMs, cancelled) == 0;
}

void VideoChannel::addPollEntry(std::vector<pollfd>& entries) {
    m_pollIndex = -1;
    if (!m_connection.open())
        return;
    m_pollIndex = static_cast<int>(entries.size());
    entries.push_back(pollfd{
        m_connection.fd(), static_cast<short>(m_state == State::Connecting ? POLLOUT : POLLIN), 0});
}

VideoChannel::Outcome VideoChannel::service(const std::vector<pollfd>& entries,
                                            std::vector<Message>& out, const Cancelled& cancelled) {
    if (m_state == State::Idle)
        return Outcome::Ok;
    const bool polled = m_pollIndex >= 0 && static_cast<size_t>(m_pollIndex) < entries.size();
    const short events = polled ? entries[static_cast<size_t>(m_pollIndex)].revents : 0;

    if (m_state != State::Running && sys::elapsedMs(m_openedMs) >= m_tuning.videoGiveUpMs) {
        close();
        return Outcome::GaveUp;
    }
    if (m_state == State::Connecting) {
        if (m_waitingToRetry) {
            if (sys::elapsedMs(m_lastAttemptMs) < m_tuning.videoLoginRetryMs)
                return Outcome::Ok;
            m_lastAttemptMs = sys::tickMs();
            m_connection.adopt(startConnect(m_ip, m_port));
            m_waitingToRetry = !m_connection.open();
            return Outcome::Ok;
        }
        if (events == 0) {
            if (sys::elapsedMs(m_lastAttemptMs) >= m_tuning.videoLoginRetryMs)
                retryLater(); // a connect that hangs is started again at the retry pace
            return Outcome::Ok;
        }
        if (!connectFinished(m_connection.fd())) {
            retryLater();
            return Outcome::Ok;
        }
        m_state = State::LoggingIn;
        if (!sendLogin(cancelled))
            retryLater();
        return Outcome::Ok;
    }

    for (int i = 0; i < kMessagesPerRound; ++i) {
        Message message;
        const Connection::Read read = m_connection.read(message);
        if (read == Connection::Read::Message) {
            m_state = State::Running;
            out.push_back(std::move(message));
            continue;
        }
        if (read == Connection::Read::Nothing)
            break;
        if (m_state == State::Running) {
            close();
            return read == Connection::Read::Broken ? Outcome::Broken : Outcome::Lost;
        }
        retryLater();
        return Outcome::Ok;
    }
    if (m_state == State::LoggingIn &&
        sys::elapsedMs(m_lastAttemptMs) >= m_tuning.videoLoginRetryMs && !sendLogin(cancelled))
        retryLater();
    return Outcome::Ok;
}

} // namespace moltrex
