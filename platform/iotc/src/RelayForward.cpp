#include "RelayForward.h"

#include "sys/Tick.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace iotc {

namespace {

constexpr int kPollMs = 100;

bool wouldBlock() {
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}

} // namespace

ForwardPipe::ForwardPipe(int from, int to, size_t capacity, std::vector<uint8_t> initial)
    : m_from(from), m_to(to), m_buffer(std::move(initial)) {
    m_end = m_buffer.size();
    m_buffer.resize(std::max(capacity, m_end));
}

bool ForwardPipe::readSome() {
    if (m_end == m_buffer.size() && m_start > 0) {
        std::memmove(m_buffer.data(), m_buffer.data() + m_start, m_end - m_start);
        m_end -= m_start;
        m_start = 0;
    }
    const ssize_t n =
        ::recv(m_from, m_buffer.data() + m_end, m_buffer.size() - m_end, MSG_DONTWAIT);
    if (n > 0) {
        m_end += static_cast<size_t>(n);
        return true;
    }
    if (n == 0) {
        m_sourceEnded = true;
        return true;
    }
    return wouldBlock();
}

void ForwardPipe::abandon() {
    m_sinkGone = true;
    m_start = m_end = 0;
}

bool ForwardPipe::writeSome(std::atomic<uint64_t>& forwarded) {
    const ssize_t n =
        ::send(m_to, m_buffer.data() + m_start, m_end - m_start, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n < 0)
        return wouldBlock();
    m_start += static_cast<size_t>(n);
    forwarded += static_cast<uint64_t>(n);
    if (m_start == m_end)
        m_start = m_end = 0;
    return true;
}

namespace {

// One socket of the pair with the pipe that reads from it and the pipe that writes to it.
struct Side {
    int fd;
    ForwardPipe& outgoing; // reads this socket
    ForwardPipe& incoming; // writes this socket
    bool hungUp = false;   // poll said so; bytes may still wait to be read
};

pollfd pollEntryFor(const Side& side) {
    short events = 0;
    if (side.outgoing.wantsRead())
        events |= POLLIN;
    if (side.incoming.wantsWrite())
        events |= POLLOUT;
    // A hung-up socket reports so at once, every time: asked for nothing, it would spin the loop.
    return {(side.hungUp && events == 0) ? -1 : side.fd, events, 0};
}

// A side has ended (closed, or failed to take bytes) and what it had sent is all out.
bool finished(const Side& side) {
    return (side.outgoing.sourceEnded() || side.incoming.sinkGone()) && side.outgoing.done();
}

// Handles one socket's poll result. A hang-up alone ends nothing, since its last bytes may wait
// unread while our buffer is full; the reads and writes themselves tell when a socket is done.
// A socket that cannot be written to any more may still hold bytes for the other side.
void service(Side& side, const pollfd& entry, std::atomic<uint64_t>& forwarded) {
    if (entry.fd < 0)
        return;
    if (entry.revents & POLLNVAL) {
        side.outgoing.endSource();
        side.incoming.abandon();
        return;
    }
    if (entry.revents & (POLLHUP | POLLERR))
        side.hungUp = true;
    const bool readable = entry.revents & (POLLIN | POLLHUP | POLLERR);
    const bool writable = entry.revents & (POLLOUT | POLLHUP | POLLERR);
    if ((entry.events & POLLIN) && readable && !side.outgoing.readSome())
        side.outgoing.endSource();
    if ((entry.events & POLLOUT) && writable && !side.incoming.writeSome(forwarded))
        side.incoming.abandon();
}

} // namespace

void forwardPair(int first, std::vector<uint8_t> firstPending, int second,
                 std::vector<uint8_t> secondPending, size_t capacity, unsigned flushMs,
                 std::atomic<uint64_t>& forwarded, const std::function<bool()>& stop) {
    ForwardPipe toSecond(first, second, capacity, std::move(firstPending));
    ForwardPipe toFirst(second, first, capacity, std::move(secondPending));
    Side sides[2] = {{first, toSecond, toFirst}, {second, toFirst, toSecond}};
    bool flushing = false;
    uint32_t endingSinceMs = 0;
    for (;;) {
        // Whoever ended first has had all its bytes delivered: nothing more can usefully pass.
        if (stop() || finished(sides[0]) || finished(sides[1]))
            return;
        const bool ending = sides[0].outgoing.sourceEnded() || sides[1].outgoing.sourceEnded() ||
                            toSecond.sinkGone() || toFirst.sinkGone();
        if (ending) {
            if (!flushing) {
                flushing = true;
                endingSinceMs = sys::tickMs();
            } else if (sys::elapsedMs(endingSinceMs) >= flushMs) {
                return;
            }
        }
        pollfd entries[2] = {pollEntryFor(sides[0]), pollEntryFor(sides[1])};
        const int ready = ::poll(entries, 2, kPollMs);
        if (ready < 0 && errno != EINTR)
            return;
        if (ready <= 0)
            continue;
        for (int i = 0; i < 2; ++i)
            service(sides[i], entries[i], forwarded);
    }
}

} // namespace iotc
