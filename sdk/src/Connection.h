#pragma once

#include "Message.h"
#include "Socket.h"

#include <cstdint>
#include <vector>

namespace moltrex {

// One TCP connection of a session: its socket and the reader that cuts messages out of it.
// Used by the session's thread only.
class Connection {
public:
    enum class Read { Message, Nothing, Closed, Broken };

    explicit Connection(Channel channel) : m_channel(channel), m_reader(channel) {}

    IoResult connect(uint32_t ip, uint16_t port, uint32_t timeoutMs, const Cancelled& cancelled);
    // Takes over a socket that is already connected (or connecting: see VideoChannel).
    void adopt(Socket socket);
    void close();
    bool open() const { return m_socket.valid(); }
    int fd() const { return m_socket.fd(); }
    Channel channel() const { return m_channel; }

    // MO_OK, or MO_ERR_SOCKET when the camera did not take the message in time or the connection
    // failed (a cancel counts as a failure: the session is ending anyway).
    int send(uint16_t opcode, const std::vector<uint8_t>& payload, uint32_t timeoutMs,
             const Cancelled& cancelled);
    // The next complete message, reading at most once from the socket.
    Read read(Message& out);

private:
    Channel m_channel;
    Socket m_socket;
    StreamReader m_reader;
};

} // namespace moltrex
