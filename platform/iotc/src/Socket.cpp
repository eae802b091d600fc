#include "Socket.h"

#include "sys/Tick.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

namespace iotc::net {

namespace {

// What a name lookup shares with its helper thread; the helper keeps its own reference, so a
// caller that gives up early leaves nothing dangling.
struct Lookup {
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;         // guarded by lock
    std::optional<in_addr> result; // guarded by lock
};

std::optional<in_addr> lookupBlocking(const std::string& host) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found)
        return std::nullopt;
    const in_addr address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    ::freeaddrinfo(found);
    return address;
}

IoStatus resolve(const std::string& host, const Deadline& deadline, const StopCheck& stop,
                 in_addr& address) {
    if (::inet_pton(AF_INET, host.c_str(), &address) == 1)
        return IoStatus::Ok;
    auto lookup = std::make_shared<Lookup>();
    try {
        std::thread([lookup, host] {
            auto result = lookupBlocking(host);
            std::lock_guard lock(lookup->lock);
            lookup->result = result;
            lookup->finished = true;
            lookup->done.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return IoStatus::Failed;
    }
    std::unique_lock lock(lookup->lock);
    while (!lookup->finished) {
        if (stop && stop())
            return IoStatus::Stopped;
        if (deadline.expired())
            return IoStatus::Timeout;
        lookup->done.wait_for(lock, std::chrono::milliseconds(kSliceMs));
    }
    if (!lookup->result)
        return IoStatus::Failed;
    address = *lookup->result;
    return IoStatus::Ok;
}

// poll() on one socket for at most one slice; the revents, 0 on timeout, -1 on failure.
int pollOnce(int fd, short events, unsigned timeoutMs) {
    pollfd entry{fd, events, 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(std::min(timeoutMs, kSliceMs)));
    if (ready < 0)
        return errno == EINTR ? 0 : -1;
    return ready == 0 ? 0 : entry.revents;
}

bool wouldBlock() {
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}

} // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other)
        reset(other.release());
    return *this;
}

int UniqueFd::release() {
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

void UniqueFd::reset(int fd) {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}

bool tuneSocket(int fd) {
    const int flags = ::fcntl(fd, F_GETFL, 0);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)
        return false;
    const int on = 1;
    const int bufferBytes = kSocketBufferBytes;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &bufferBytes, sizeof bufferBytes);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof bufferBytes);
    return true;
}

std::optional<Endpoint> parseEndpoint(const char* text, uint16_t defaultPort) {
    if (!text || !*text)
        return std::nullopt;
    const std::string whole(text);
    const size_t colon = whole.rfind(':');
    Endpoint endpoint{whole, defaultPort};
    if (colon != std::string::npos) {
        const std::string portText = whole.substr(colon + 1);
        char* end = nullptr;
        const long port = std::strtol(portText.c_str(), &end, 10);
        if (portText.empty() || *end != '\0' || port < 1 || port > 65535)
            return std::nullopt;
        endpoint.host = whole.substr(0, colon);
        endpoint.port = static_cast<uint16_t>(port);
    }
    if (endpoint.host.empty())
        return std::nullopt;
    return endpoint;
}

IoStatus connectTcp(const Endpoint& endpoint, unsigned timeoutMs, const StopCheck& stop,
                    UniqueFd& connected) {
    const Deadline deadline(timeoutMs);
    in_addr address{};
    if (const IoStatus resolved = resolve(endpoint.host, deadline, stop, address);
        resolved != IoStatus::Ok)
        return resolved;

    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid() || !tuneSocket(fd.get()))
        return IoStatus::Failed;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(endpoint.port);
    peer.sin_addr = address;
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0 &&
        errno != EINPROGRESS)
        return IoStatus::Failed;

    for (;;) {
        if (stop && stop())
            return IoStatus::Stopped;
        if (deadline.expired())
            return IoStatus::Timeout;
        const int events = pollOnce(fd.get(), POLLOUT, deadline.remainingMs());
        if (events < 0)
            return IoStatus::Failed;
        if (events == 0)
            continue;
        int error = 0;
        socklen_t size = sizeof error;
        if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &size) < 0 || error != 0)
            return IoStatus::Failed;
        connected = std::move(fd);
        return IoStatus::Ok;
    }
}

IoStatus sendAll(int fd, const uint8_t* bytes, size_t size, unsigned timeoutMs,
                 const StopCheck& stop) {
    const Deadline deadline(timeoutMs);
    size_t sent = 0;
    while (sent < size) {
        const ssize_t n = ::send(fd, bytes + sent, size - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && !wouldBlock())
            return IoStatus::Failed;
        if (stop && stop())
            return IoStatus::Stopped;
        if (deadline.expired())
            return IoStatus::Timeout;
        if (pollOnce(fd, POLLOUT, deadline.remainingMs()) < 0)
            return IoStatus::Failed;
    }
    return IoStatus::Ok;
}

IoStatus readFrame(int fd, wire::FrameParser& parser, wire::Frame& frame, unsigned timeoutMs,
                   const StopCheck& stop) {
    const Deadline deadline(timeoutMs);
    uint8_t chunk[4096];
    for (;;) {
        const auto parsed = parser.next(frame);
        if (parsed == wire::FrameParser::Status::Frame)
            return IoStatus::Ok;
        if (parsed == wire::FrameParser::Status::Malformed)
            return IoStatus::Failed;
        if (stop && stop())
            return IoStatus::Stopped;
        if (deadline.expired())
            return IoStatus::Timeout;
        const int events = pollOnce(fd, POLLIN, deadline.remainingMs());
        if (events < 0)
            return IoStatus::Failed;
        if (events == 0)
            continue;
        const ssize_t n = ::recv(fd, chunk, std::min(sizeof chunk, parser.room()), 0);
        if (n == 0)
            return IoStatus::Closed;
        if (n < 0) {
            if (wouldBlock())
                continue;
            return IoStatus::Failed;
        }
        parser.append(chunk, static_cast<size_t>(n));
    }
}

Deadline::Deadline(unsigned timeoutMs) : m_start(sys::tickMs()), m_timeoutMs(timeoutMs) {}

unsigned Deadline::remainingMs() const {
    const uint32_t elapsed = sys::elapsedMs(m_start);
    return elapsed >= m_timeoutMs ? 0 : m_timeoutMs - elapsed;
}

} // namespace iotc::net
