#include "Socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "sys/Tick.h"

namespace moltrex {

namespace {

constexpr int kPollSliceMs = 50;

sockaddr_in endpoint(uint32_t ip, uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(ip);
    address.sin_port = htons(port);
    return address;
}

// Waits for `events` on `fd` for one slice; -1 on a poll failure.
int pollSlice(int fd, short events, int waitMs) {
    pollfd entry{fd, events, 0};
    const int ready = ::poll(&entry, 1, waitMs);
    if (ready < 0)
        return errno == EINTR ? 0 : -1;
    return ready;
}

} // namespace

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        close();
        m_fd = other.release();
    }
    return *this;
}

void Socket::close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

int Socket::release() {
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

Socket startConnect(uint32_t ip, uint16_t port) {
    Socket socket(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!socket.valid())
        return socket;
    const int one = 1;
    ::setsockopt(socket.fd(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    const sockaddr_in address = endpoint(ip, port);
    if (::connect(socket.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
        errno != EINPROGRESS)
        socket.close();
    return socket;
}

bool connectFinished(int fd) {
    int error = 0;
    socklen_t size = sizeof error;
    return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
}

IoResult connectTcp(uint32_t ip, uint16_t port, uint32_t timeoutMs, const Cancelled& cancelled,
                    Socket& out) {
    Socket socket = startConnect(ip, port);
    if (!socket.valid())
        return IoResult::Failed;
    const uint32_t start = sys::tickMs();
    for (;;) {
        if (cancelled && cancelled())
            return IoResult::Cancelled;
        const int ready = pollSlice(socket.fd(), POLLOUT, kPollSliceMs);
        if (ready < 0)
            return IoResult::Failed;
        if (ready > 0) {
            if (!connectFinished(socket.fd()))
                return IoResult::Failed;
            out = std::move(socket);
            return IoResult::Ok;
        }
        if (sys::elapsedMs(start) >= timeoutMs)
            return IoResult::TimedOut;
    }
}

IoResult sendAll(int fd, const uint8_t* data, size_t size, uint32_t timeoutMs,
                 const Cancelled& cancelled) {
    uint32_t lastProgress = sys::tickMs();
    size_t sent = 0;
    while (sent < size) {
        // MSG_NOSIGNAL: a camera that hangs up must not end the host with SIGPIPE.
        const ssize_t n = ::send(fd, data + sent, size - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            lastProgress = sys::tickMs();
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return IoResult::Failed;
        if (cancelled && cancelled())
            return IoResult::Cancelled;
        if (sys::elapsedMs(lastProgress) >= timeoutMs)
            return IoResult::TimedOut;
        if (pollSlice(fd, POLLOUT, kPollSliceMs) < 0)
            return IoResult::Failed;
    }
    return IoResult::Ok;
}

long receiveSome(int fd, uint8_t* out, size_t size) {
    if (size == 0)
        return 0;
    const ssize_t n = ::recv(fd, out, size, MSG_DONTWAIT);
    if (n > 0)
        return static_cast<long>(n);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return 0;
    return -1;
}

Socket openUdp(uint16_t localPort) {
    Socket socket(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!socket.valid())
        return socket;
    const int one = 1;
    // Cameras answer to port 10000, which a second program on the host may hold as well.
    ::setsockopt(socket.fd(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::setsockopt(socket.fd(), SOL_SOCKET, SO_BROADCAST, &one, sizeof one) != 0) {
        socket.close();
        return socket;
    }
    const sockaddr_in address = endpoint(INADDR_ANY, localPort);
    if (::bind(socket.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        socket.close();
    return socket;
}

bool sendDatagram(int fd, uint32_t ip, uint16_t port, const uint8_t* data, size_t size) {
    const sockaddr_in address = endpoint(ip, port);
    return ::sendto(fd, data, size, 0, reinterpret_cast<const sockaddr*>(&address),
                    sizeof address) == static_cast<ssize_t>(size);
}

} // namespace moltrex
