#include "core/DataBase.h"

#include "sys/Tick.h"

#include <algorithm>
#include <cstring>

namespace zq {

namespace {

// One read takes at most this much; the buffer is large enough for several reads per round.
constexpr size_t kReadChunk = 64 * 1024;
constexpr int kMaxReadRounds = 1000;
// Once a packet is partly on the wire, finishing it matters more than failing fast: a half
// packet would desynchronise the camera's parser.
constexpr int kRetryAfterPartialSend = 100;

} // namespace

CDataBase::CDataBase(DEVICE_PARAM* param) : m_param(param), m_buffer(kReceiveCapacity) {}

CDataBase::~CDataBase() = default;

void CDataBase::setTransport(std::unique_ptr<CSockBase> transport) {
    m_transport = std::move(transport);
}

int CDataBase::openTransport() {
    std::lock_guard lock(m_sendLock);
    if (!m_transport)
        return kIoError;
    m_fill = 0;
    const int opened = m_transport->open();
    return opened < 0 ? opened : m_transport->setOptions();
}

void CDataBase::closeTransport() {
    std::lock_guard lock(m_sendLock);
    if (m_transport)
        m_transport->close();
}

void CDataBase::cancel() {
    m_cancelled.store(true, std::memory_order_release);
    if (m_transport)
        m_transport->cancel();
}

void CDataBase::clearCancel() {
    m_cancelled.store(false, std::memory_order_release);
    if (m_transport)
        m_transport->clearCancel();
}

int CDataBase::receive() {
    if (!m_transport)
        return kIoError;
    int total = 0;
    for (int round = 0; round < kMaxReadRounds; ++round) {
        if (cancelled())
            return kIoCancelled;
        const size_t room = kReceiveCapacity - 1 - m_fill;
        if (room == 0) {
            // Cannot happen with well-framed input (every acceptable packet fits), but a
            // buffer of garbage must not wedge the channel: start over.
            m_fill = 0;
            continue;
        }
        const int got = m_transport->recv(m_buffer.data() + m_fill,
                                          static_cast<int>(std::min(room, kReadChunk)), 0);
        if (got < 0)
            return got;
        if (got == 0)
            break;
        m_fill += static_cast<size_t>(got);
        total += got;
        parseBuffer();
    }
    return total;
}

void CDataBase::appendAndParse(const uint8_t* bytes, size_t length) {
    while (length > 0) {
        const size_t room = kReceiveCapacity - 1 - m_fill;
        if (room == 0) {
            m_fill = 0;
            continue;
        }
        const size_t take = std::min(room, length);
        std::memcpy(m_buffer.data() + m_fill, bytes, take);
        m_fill += take;
        bytes += take;
        length -= take;
        parseBuffer();
    }
}

void CDataBase::parseBuffer() {
    const size_t header = static_cast<size_t>(headerSize());
    uint8_t* const base = m_buffer.data();
    size_t pos = 0;
    while (m_fill - pos >= header) {
        const uint8_t* at = base + pos;
        if (!isHeader(at)) {
            ++pos;
            continue;
        }
        const long size = packetSize(at);
        if (size < static_cast<long>(header) || static_cast<size_t>(size) >= kReceiveCapacity) {
            ++pos; // a length that can never arrive whole: not a real header
            continue;
        }
        if (m_fill - pos < static_cast<size_t>(size))
            break;
        onPacket(at, static_cast<size_t>(size));
        pos += static_cast<size_t>(size);
    }
    if (pos > 0) {
        std::memmove(base, base + pos, m_fill - pos);
        m_fill -= pos;
    }
}

int CDataBase::sendPacket(const void* data, size_t length, int retries) {
    std::lock_guard lock(m_sendLock);
    if (!m_transport)
        return kSendFailed;
    const auto* bytes = static_cast<const uint8_t*>(data);
    size_t sent = 0;
    int idleRounds = 0;
    while (sent < length) {
        const int chunk = static_cast<int>(std::min<size_t>(length - sent, 1 << 20));
        const int result = m_transport->send(bytes + sent, chunk, 0);
        if (result < 0)
            return kSendFailed;
        if (result == 0) {
            const int budget = sent > 0 ? std::max(retries, kRetryAfterPartialSend) : retries;
            if (++idleRounds > budget)
                return kSendStalled;
            continue;
        }
        sent += static_cast<size_t>(result);
        idleRounds = 0;
    }
    return kSendOk;
}

bool CDataBase::pause(unsigned ms) const {
    const uint32_t start = sys::tickMs();
    for (;;) {
        if (cancelled())
            return false;
        const uint32_t elapsed = sys::elapsedMs(start);
        if (elapsed >= ms)
            return true;
        sys::sleepMs(ms - elapsed < 10 ? ms - elapsed : 10);
    }
}

std::string CDataBase::hostText() const {
    return std::string(m_param->host, strnlen(m_param->host, sizeof m_param->host));
}

} // namespace zq
