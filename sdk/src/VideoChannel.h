#pragma once

#include "Connection.h"
#include "Tuning.h"

#include <poll.h>

#include <cstdint>
#include <vector>

namespace moltrex {

// The monitor session's second connection ("MO_V"), where pictures and audio blocks arrive.
//
// Opened with the connection id of a start answer: it connects to the camera and sends the video
// login (opcode 0 with the id), and until the first message of the camera arrives it sends the
// login again every `videoLoginRetryMs`, reconnecting at the same pace when the connection fails;
// after `videoGiveUpMs` without an answer it gives up. Used by the session's thread only.
class VideoChannel {
public:
    enum class Outcome { Ok, Lost, Broken, GaveUp };

    VideoChannel(uint32_t ip, uint16_t port, const Tuning& tuning);

    // Starts the channel unless it already runs.
    void open(uint32_t connectionId);
    void close();
    bool active() const { return m_state != State::Idle; }
    bool answered() const { return m_state == State::Running; }

    // The entry to wait on, if any; remembers where it went.
    void addPollEntry(std::vector<pollfd>& entries);
    // After the wait: advances the connection and appends what arrived to `out`.
    Outcome service(const std::vector<pollfd>& entries, std::vector<Message>& out,
                    const Cancelled& cancelled);

private:
    enum class State { Idle, Connecting, LoggingIn, Running };

    bool sendLogin(const Cancelled& cancelled);
    void retryLater();

    const uint32_t m_ip;
    const uint16_t m_port;
    const Tuning m_tuning;
    Connection m_connection{Channel::Video};
    State m_state = State::Idle;
    uint32_t m_connectionId = 0;
    uint32_t m_openedMs = 0;
    uint32_t m_lastAttemptMs = 0; // connect or login
    bool m_waitingToRetry = false;
    int m_pollIndex = -1;
};

} // namespace moltrex
