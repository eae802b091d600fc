#include "Connection.h"

#include "moltrex/moltrex.h"

namespace moltrex {

IoResult Connection::connect(uint32_t ip, uint16_t port, uint32_t timeoutMs,
                             const Cancelled& cancelled) {
    Socket socket;
    const IoResult result = connectTcp(ip, port, timeoutMs, cancelled, socket);
    if (result == IoResult::Ok)
        adopt(std::move(socket));
    return result;
}

void Connection::adopt(Socket socket) {
    m_socket = std::move(socket);
    m_reader = StreamReader(m_channel);
}

void Connection::close() {
    m_socket.close();
}

int Connection::send(uint16_t opcode, const std::vector<uint8_t>& payload, uint32_t timeoutMs,
                     const Cancelled& cancelled) {
    if (!m_socket.valid())
        return MO_ERR_SOCKET;
    const std::vector<uint8_t> bytes = encodeMessage(m_channel, opcode, payload);
    return sendAll(m_socket.fd(), bytes.data(), bytes.size(), timeoutMs, cancelled) == IoResult::Ok
               ? MO_OK
               : MO_ERR_SOCKET;
}

Connection::Read Connection::read(Message& out) {
    auto take = [&]() {
        switch (m_reader.next(out)) {
        case StreamReader::Result::Message:
            return Read::Message;
        case StreamReader::Result::Broken:
            return Read::Broken;
        case StreamReader::Result::NeedMore:
            break;
        }
        return Read::Nothing;
    };
    if (!m_socket.valid())
        return Read::Closed;
    const Read ready = take();
    if (ready != Read::Nothing)
        return ready;
    const long got = receiveSome(m_socket.fd(), m_reader.space(), m_reader.spaceBytes());
    if (got < 0)
        return Read::Closed;
    if (got == 0)
        return Read::Nothing;
    m_reader.commit(static_cast<size_t>(got));
    return take();
}

} // namespace moltrex
