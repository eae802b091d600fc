#include "search/SearchJob.h"

#include "search/LocalAddresses.h"
#include "sys/Diag.h"
#include "sys/Tick.h"

#include <arpa/inet.h>
#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zq::search {

namespace {

// Closes the socket on every way out of a listening turn.
class SocketHolder {
public:
    ~SocketHolder() { reset(-1); }
    void reset(int socket) {
        if (m_socket >= 0)
            ::close(m_socket);
        m_socket = socket;
    }
    int get() const { return m_socket; }

private:
    int m_socket = -1;
};

bool quitRequested(sys::WorkerContext& worker) {
    if (worker.cancelled())
        return true;
    while (const auto message = worker.queue().peek())
        if (message->code == sys::kQuitCode)
            return true;
    return false;
}

} // namespace

SearchJob::SearchJob(SearchCallback callback, void* user, int listenMs, bool repeat)
    : m_callback(callback), m_user(user),
      m_listenMs(listenMs > 0 ? static_cast<uint32_t>(listenMs) : 0), m_repeat(repeat) {}

bool SearchJob::report(int kind, const void* record, int length) {
    int result = 0;
    if (!m_gate.deliver([&] { result = m_callback(kind, record, length, m_user); })) {
        m_gateClosed = true;
        return false;
    }
    return kind == ZQ_SEARCH_PROGRESS || result != ZQ_SEARCH_STOP;
}

void SearchJob::run(sys::WorkerContext& worker) {
    const std::vector<in_addr> addresses = localIPv4Addresses();
    m_totalMs = static_cast<uint64_t>(addresses.size()) * m_listenMs;
    End end = End::Done;
    for (size_t index = 0; index < addresses.size() && end == End::Done; ++index)
        end = listenOn(worker, index, addresses[index]);
    // The caller learns of every end it did not cause itself by closing.
    if (end != End::Quit && !m_gateClosed)
        report(ZQ_SEARCH_PROGRESS, nullptr, 0);
}

int SearchJob::openSocket(in_addr address) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int on = 1;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr = address;
    if (::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
        ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void SearchJob::sendRequest(int socket) {
    static const auto request = searchRequest();
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(kSearchPort);
    target.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    // A lost request is like a lost datagram: the next turn or repeat sends it again.
    (void)::sendto(socket, request.data(), request.size(), MSG_NOSIGNAL,
                   reinterpret_cast<const sockaddr*>(&target), sizeof target);
}

SearchJob::End SearchJob::listenOn(sys::WorkerContext& worker, size_t index, in_addr address) {
    const uint32_t start = sys::tickMs();
    uint32_t lastSend = start;
    const uint64_t doneBefore = static_cast<uint64_t>(index) * m_listenMs;
    SocketHolder socket;
    bool fresh = true;

    while (sys::elapsedMs(start) < m_listenMs) {
        if (fresh) {
            // A new socket for this address, after a start or a broken stream. The address
            // keeps its deadline, so a socket that keeps failing cannot hold the search up.
            fresh = false;
            m_assemblers.clear();
            socket.reset(openSocket(address));
            if (socket.get() < 0) {
                sys::diag("Create Broadcast sock error!");
                return End::Failed;
            }
            if (!m_repeat)
                sendRequest(socket.get());
        }
        if (quitRequested(worker))
            return End::Quit;
        const uint64_t elapsed = sys::elapsedMs(start);
        const uint64_t left =
            m_totalMs - doneBefore - (elapsed < m_listenMs ? elapsed : m_listenMs);
        // Zero means "ended" to the caller, so a running search reports at least 1 ms.
        if (!report(ZQ_SEARCH_PROGRESS, nullptr, left > 0 ? static_cast<int>(left) : 1))
            return End::Quit;
        if (m_repeat && sys::elapsedMs(lastSend) > kRepeatIntervalMs) {
            sendRequest(socket.get());
            lastSend = sys::tickMs();
        }

        for (int datagram = 0; datagram < kDatagramsPerRound && !fresh; ++datagram) {
            if (worker.cancelled())
                return End::Quit;
            pollfd ready{socket.get(), POLLIN, 0};
            const int polled = ::poll(&ready, 1, static_cast<int>(kWaitMs));
            if (polled == 0 || (polled < 0 && errno == EINTR))
                break;
            uint8_t bytes[kMaxDatagram];
            sockaddr_in sender{};
            socklen_t senderLength = sizeof sender;
            // MSG_TRUNC gives the datagram's real size, so a cut-off one is recognised.
            const ssize_t got =
                polled < 0 ? -1
                           : ::recvfrom(socket.get(), bytes, sizeof bytes, MSG_TRUNC,
                                        reinterpret_cast<sockaddr*>(&sender), &senderLength);
            if (got < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                    break;
                fresh = true;
                break;
            }
            if (static_cast<size_t>(got) > sizeof bytes) {
                // Its tail is gone; appending the head would glue two unrelated replies.
                continue;
            }
            ReplyAssembler& assembler = assemblerFor(sender);
            if (!assembler.append(bytes, static_cast<size_t>(got))) {
                fresh = true;
                break;
            }
            const bool keepGoing =
                assembler.drain([&](ReplyKind kind, const uint8_t* data, size_t size) {
                    return report(kind, data, static_cast<int>(size));
                });
            if (!keepGoing)
                return m_gateClosed ? End::Quit : End::Stopped;
        }
        // The pause between rounds doubles as the wait for a quit message.
        if (const auto message = worker.queue().take(kWaitMs);
            message && message->code == sys::kQuitCode)
            return End::Quit;
    }
    return End::Done;
}

ReplyAssembler& SearchJob::assemblerFor(const sockaddr_in& sender) {
    // Bounded: a flood of senders (or spoofed ones) cannot grow it without end.
    constexpr size_t kMaxSenders = 256;
    const uint64_t key = (static_cast<uint64_t>(sender.sin_addr.s_addr) << 16) | sender.sin_port;
    if (m_assemblers.size() >= kMaxSenders && m_assemblers.count(key) == 0) {
        m_assemblers.erase(m_assemblers.begin());
    }
    return m_assemblers[key];
}

} // namespace zq::search
