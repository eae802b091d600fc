#pragma once

#include "RawClient.h"

#include <string>

namespace camtest {

// The client's side of a peer-to-peer camera: one session by UID with the control channel (0)
// and the media channel (1), each read and written as a RawClient.
class P2pClient {
public:
    P2pClient() = default;
    ~P2pClient();
    P2pClient(const P2pClient&) = delete;
    P2pClient& operator=(const P2pClient&) = delete;

    // Connects to the camera registered as `uid` and opens both channels. False (see error())
    // when any step fails.
    bool connect(const std::string& uid);
    // Ends the session as a client that hangs up would.
    void close();
    // True once the camera has closed the session, within `timeoutMs`.
    bool waitSessionClosed(unsigned timeoutMs);
    const std::string& error() const { return m_error; }

    RawClient control;
    RawClient media;

private:
    int m_sessionId = -1;
    std::string m_error;
};

} // namespace camtest
