#include "Session.h"

#include "Timing.h"
#include "sys/Tick.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <string>

namespace iotc {

namespace {

constexpr unsigned kReaderPollMs = 100;
constexpr unsigned kThreadStopMs = 1000;
constexpr size_t kReadChunk = 64 * 1024;

std::chrono::steady_clock::time_point deadlineAfter(int timeoutMs) {
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
}

} // namespace

void ByteQueue::push(std::vector<uint8_t>&& chunk) {
    m_size += chunk.size();
    m_chunks.push_back(std::move(chunk));
}

size_t ByteQueue::pop(char* out, size_t capacity) {
    size_t copied = 0;
    while (copied < capacity && !m_chunks.empty()) {
        const auto& head = m_chunks.front();
        const size_t n = std::min(capacity - copied, head.size() - m_headOffset);
        std::memcpy(out + copied, head.data() + m_headOffset, n);
        copied += n;
        m_headOffset += n;
        if (m_headOffset == head.size()) {
            m_chunks.pop_front();
            m_headOffset = 0;
        }
    }
    m_size -= copied;
    return copied;
}

void ByteQueue::clear() {
    m_chunks.clear();
    m_headOffset = 0;
    m_size = 0;
}

Session::Session(net::UniqueFd fd, wire::FrameParser parser, const Timing& timing)
    : m_pingEveryMs(timing.pingEveryMs), m_silenceMs(timing.silenceMs), m_fd(std::move(fd)),
      m_parser(std::move(parser)) {}

Session::~Session() = default;

std::shared_ptr<Session> Session::start(int sid, net::UniqueFd fd, wire::FrameParser parser,
                                        const Timing& timing) {
    std::shared_ptr<Session> session(new Session(std::move(fd), std::move(parser), timing));
    if (!session->startThreads(sid)) {
        session->close(0);
        return nullptr;
    }
    return session;
}

bool Session::startThreads(int sid) {
    // The threads hold the session themselves: one that overruns its stop and is detached must
    // not outlive what it uses.
    auto self = shared_from_this();
    const std::string suffix = std::to_string(sid);
    return m_reader.start("iotc-rd-" + suffix, [self](sys::WorkerContext&) {
        self->readerLoop();
    }) && m_writer.start("iotc-wr-" + suffix, [self](sys::WorkerContext&) { self->writerLoop(); });
}

// --- Calls from the application ---------------------------------------------------------------

bool Session::ownsLocked(unsigned slot, int rdtId) const {
    return m_slots[slot].localId == rdtId && m_slots[slot].localCreated;
}

int Session::createChannel(unsigned slot, int rdtId, int timeoutMs) {
    std::unique_lock lock(m_lock);
    if (endedLocked())
        return RDT_ER_SESSION_CLOSED;
    Slot& channel = m_slots[slot];
    if (channel.localId != 0)
        return RDT_ER_CHANNEL_IN_USE;
    channel.localId = rdtId;
    channel.discardIncoming = false;
    queueControlLocked(wire::FrameType::ChannelWant, slot);

    const auto deadline = deadlineAfter(timeoutMs);
    // A peer that already came and went still left its bytes to be read.
    const auto peerReady = [&] {
        return channel.peer == PeerSide::Waiting || channel.peer == PeerSide::Open ||
               (channel.peer == PeerSide::Exited && channel.received.size() > 0);
    };
    m_stateChanged.wait_until(
        lock, deadline, [&] { return peerReady() || endedLocked() || channel.localId != rdtId; });
    if (channel.localId != rdtId)
        return RDT_ER_INVALID_ID;
    if (m_localClosed || (!peerReady() && m_remoteClosed)) {
        channel.localId = 0;
        return RDT_ER_SESSION_CLOSED;
    }
    if (!peerReady()) {
        // Our CH_WANT stays with the peer: it may still create its side and write, and what it
        // writes waits here for the next RDT_Create.
        channel.localId = 0;
        return RDT_ER_TIMEOUT;
    }
    channel.localCreated = true;
    queueControlLocked(wire::FrameType::ChannelOpen, slot);
    return 0;
}

int Session::destroyChannel(unsigned slot, int rdtId) {
    std::lock_guard lock(m_lock);
    Slot& channel = m_slots[slot];
    if (channel.localId != rdtId)
        return RDT_ER_INVALID_ID;
    channel.localId = 0;
    channel.localCreated = false;
    channel.received.clear();
    // Until the peer starts over with CH_WANT, anything it sends on this slot was meant for the
    // channel just destroyed.
    channel.discardIncoming = true;
    if (channel.peer == PeerSide::Exited)
        channel.peer = PeerSide::Absent;
    if (!endedLocked())
        queueControlLocked(wire::FrameType::ChannelClose, slot);
    m_stateChanged.notify_all();
    return 0;
}

int Session::write(unsigned slot, int rdtId, const char* data, int length) {
    std::lock_guard lock(m_lock);
    if (!ownsLocked(slot, rdtId))
        return m_localClosed ? RDT_ER_SESSION_CLOSED : RDT_ER_INVALID_ID;
    if (endedLocked())
        return RDT_ER_SESSION_CLOSED;
    Slot& channel = m_slots[slot];
    if (channel.peer == PeerSide::Exited)
        return RDT_ER_REMOTE_EXIT;
    const auto size = static_cast<uint32_t>(length);
    if (channel.sendQueued + size > static_cast<uint32_t>(kRdtMaxSendQueue))
        return RDT_ER_SEND_QUEUE_FULL;
    for (uint32_t offset = 0; offset < size;) {
        const auto n = static_cast<uint32_t>(std::min<size_t>(wire::kMaxPayload, size - offset));
        queueLocked(
            {wire::encodeFrame(wire::FrameType::Data, static_cast<uint8_t>(slot), data + offset, n),
             static_cast<int>(slot), n});
        offset += n;
    }
    channel.sendQueued += size;
    return length;
}

int Session::read(unsigned slot, int rdtId, char* buffer, int size, int timeoutMs) {
    const auto deadline = deadlineAfter(timeoutMs);
    std::unique_lock lock(m_lock);
    Slot& channel = m_slots[slot];
    for (bool timedOut = false;;) {
        if (m_localClosed)
            return RDT_ER_SESSION_CLOSED;
        if (!ownsLocked(slot, rdtId))
            return RDT_ER_INVALID_ID;
        if (channel.received.size() > 0) {
            const size_t n = channel.received.pop(buffer, static_cast<size_t>(size));
            m_stateChanged.notify_all(); // the reader may be waiting for room
            return static_cast<int>(n);
        }
        if (channel.peer == PeerSide::Exited)
            return RDT_ER_REMOTE_EXIT;
        if (m_remoteClosed)
            return RDT_ER_SESSION_CLOSED;
        if (timedOut)
            return channel.peer == PeerSide::Open ? RDT_ER_TIMEOUT : RDT_ER_REMOTE_NOT_READY;
        timedOut = m_stateChanged.wait_until(lock, deadline) == std::cv_status::timeout;
    }
}

int Session::status(unsigned slot, int rdtId, RdtStatus& status) const {
    std::lock_guard lock(m_lock);
    if (!ownsLocked(slot, rdtId))
        return m_localClosed ? RDT_ER_SESSION_CLOSED : RDT_ER_INVALID_ID;
    const Slot& channel = m_slots[slot];
    status.receiveQueued = static_cast<uint32_t>(channel.received.size());
    status.sendQueued = channel.sendQueued;
    status.peerOpen = channel.peer == PeerSide::Open ? 1 : 0;
    status.reserved = 0;
    return 0;
}

void Session::close(unsigned flushMs) {
    {
        std::lock_guard lock(m_lock);
        if (m_localClosed)
            return;
        m_localClosed = true;
        if (!m_remoteClosed)
            queueLocked({wire::encodeFrame(wire::FrameType::Bye), -1, 0});
        m_stateChanged.notify_all();
        m_sendReady.notify_all();
    }
    // The writer ends by itself once BYE is out; past the flush time the rest is dropped.
    m_writer.wait(flushMs);
    m_abort = true;
    if (m_fd.valid())
        ::shutdown(m_fd.get(), SHUT_RDWR);
    {
        std::lock_guard lock(m_lock);
        m_stateChanged.notify_all();
        m_sendReady.notify_all();
    }
    m_writer.stop(kThreadStopMs);
    m_reader.stop(kThreadStopMs);
}

void Session::queueLocked(OutFrame frame) {
    m_sendQueue.push_back(std::move(frame));
    m_sendReady.notify_one();
}

void Session::queueControlLocked(wire::FrameType type, unsigned slot) {
    queueLocked({wire::encodeFrame(type, static_cast<uint8_t>(slot)), -1, 0});
}

// --- Reader thread -----------------------------------------------------------------------------

void Session::readerLoop() {
    std::vector<uint8_t> chunk(kReadChunk);
    wire::Frame frame;
    uint32_t lastHeardMs = sys::tickMs();
    for (;;) {
        // Bytes that came with the handshake are parsed before the first read.
        auto parsed = m_parser.next(frame);
        while (parsed == wire::FrameParser::Status::Frame) {
            if (!deliver(frame, lastHeardMs))
                break;
            parsed = m_parser.next(frame);
        }
        if (parsed != wire::FrameParser::Status::NeedMore)
            break;
        if (m_abort || !receiveSome(chunk, lastHeardMs))
            break;
    }
    endFromRemote();
}

bool Session::receiveSome(std::vector<uint8_t>& chunk, uint32_t& lastHeardMs) {
    pollfd entry{m_fd.get(), POLLIN, 0};
    const int ready = ::poll(&entry, 1, kReaderPollMs);
    if (ready < 0)
        return errno == EINTR;
    if (ready == 0)
        return sys::elapsedMs(lastHeardMs) < m_silenceMs;
    const ssize_t n = ::recv(m_fd.get(), chunk.data(), std::min(chunk.size(), m_parser.room()), 0);
    if (n == 0)
        return false;
    if (n < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    lastHeardMs = sys::tickMs();
    return m_parser.append(chunk.data(), static_cast<size_t>(n));
}

bool Session::deliver(wire::Frame& frame, uint32_t& lastHeardMs) {
    using wire::FrameType;
    if (frame.type == FrameType::Ping)
        return true;
    if (frame.type == FrameType::Data)
        return deliverData(frame, lastHeardMs);
    const bool channelFrame = frame.type == FrameType::ChannelWant ||
                              frame.type == FrameType::ChannelOpen ||
                              frame.type == FrameType::ChannelClose;
    // BYE, and any handshake frame, which has no place inside a session.
    if (!channelFrame)
        return false;
    std::lock_guard lock(m_lock);
    Slot& channel = m_slots[frame.channel];
    if (frame.type == FrameType::ChannelWant) {
        channel.discardIncoming = false;
        if (channel.peer != PeerSide::Open)
            channel.peer = PeerSide::Waiting;
    } else {
        channel.peer = frame.type == FrameType::ChannelOpen ? PeerSide::Open : PeerSide::Exited;
    }
    m_stateChanged.notify_all();
    return true;
}

bool Session::deliverData(wire::Frame& frame, uint32_t& lastHeardMs) {
    std::unique_lock lock(m_lock);
    Slot& channel = m_slots[frame.channel];
    if (channel.discardIncoming)
        return true;
    // A peer writes only after CH_OPEN; data before it means the stream is out of step.
    if (channel.peer != PeerSide::Open)
        return false;
    const size_t size = frame.payload.size();
    const auto hasRoom = [&] {
        return channel.received.size() == 0 || channel.received.size() + size <= kMaxReceiveQueue;
    };
    // Not reading on is what pushes back on the sender; a close must still get through.
    while (!hasRoom() && !m_localClosed && !m_abort && !channel.discardIncoming)
        m_stateChanged.wait_for(lock, std::chrono::milliseconds(kReaderPollMs));
    // The time spent waiting for our own reader is not the peer's silence.
    lastHeardMs = sys::tickMs();
    if (m_localClosed || m_abort)
        return false;
    if (!channel.discardIncoming) {
        channel.received.push(std::move(frame.payload));
        m_stateChanged.notify_all();
    }
    return true;
}

void Session::endFromRemote() {
    {
        std::lock_guard lock(m_lock);
        if (m_localClosed)
            return; // close() owns the shutdown and lets the writer flush first
        m_remoteClosed = true;
        m_stateChanged.notify_all();
        m_sendReady.notify_all();
    }
    // Wakes the writer out of a send and tells the relay to drop the pair.
    ::shutdown(m_fd.get(), SHUT_RDWR);
}

// --- Writer thread -----------------------------------------------------------------------------

void Session::writerLoop() {
    OutFrame frame;
    uint32_t lastSentMs = sys::tickMs();
    while (takeNextFrame(frame, lastSentMs)) {
        if (!sendFrame(frame)) {
            endFromRemote();
            return;
        }
        lastSentMs = sys::tickMs();
        if (frame.slot >= 0) {
            std::lock_guard lock(m_lock);
            m_slots[static_cast<size_t>(frame.slot)].sendQueued -= frame.dataBytes;
        }
    }
}

bool Session::takeNextFrame(OutFrame& frame, uint32_t& lastSentMs) {
    std::unique_lock lock(m_lock);
    for (;;) {
        if (m_abort || m_remoteClosed)
            return false;
        if (!m_sendQueue.empty()) {
            frame = std::move(m_sendQueue.front());
            m_sendQueue.pop_front();
            return true;
        }
        if (m_localClosed)
            return false; // BYE is out
        const uint32_t idleMs = sys::elapsedMs(lastSentMs);
        if (idleMs >= m_pingEveryMs) {
            frame = {wire::encodeFrame(wire::FrameType::Ping), -1, 0};
            return true;
        }
        m_sendReady.wait_for(lock, std::chrono::milliseconds(m_pingEveryMs - idleMs));
    }
}

bool Session::sendFrame(const OutFrame& frame) {
    const auto status =
        net::sendAll(m_fd.get(), frame.bytes, UINT_MAX, [this] { return m_abort.load(); });
    return status == net::IoStatus::Ok;
}

} // namespace iotc
