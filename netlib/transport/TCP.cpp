#include "transport/TCP.h"

#include "transport/Resolve.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace zq {

namespace {

constexpr int kPollMs = 10;
constexpr int kConnectPolls = 302;

int waitFor(int fd, short events) {
    pollfd entry{fd, events, 0};
    const int ready = ::poll(&entry, 1, kPollMs);
    if (ready < 0)
        return errno == EINTR ? 0 : -1;
    if (ready == 0)
        return 0;
    return entry.revents;
}

} // namespace

CTCP::~CTCP() {
    close();
}

int CTCP::open() {
    close();
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    return m_fd >= 0 ? 0 : kIoError;
}

int CTCP::setOptions() {
    if (m_fd < 0)
        return kIoError;
    const int flags = ::fcntl(m_fd, F_GETFL, 0);
    if (flags < 0 || ::fcntl(m_fd, F_SETFL, flags | O_NONBLOCK) < 0)
        return kIoError;
    const int on = 1;
    ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return 0;
}

int CTCP::connect(const char* host, int port) {
    if (m_fd < 0)
        return kIoError;
    const std::string address = resolveIPv4(host);
    if (address.empty())
        return kIoError;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<uint16_t>(port & 0xFFFF));
    if (inet_pton(AF_INET, address.c_str(), &peer.sin_addr) != 1)
        return kIoError;

    if (::connect(m_fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0)
        return 0;
    if (errno != EINPROGRESS)
        return kIoError;

    for (int poll = 0; poll < kConnectPolls; ++poll) {
        if (cancelled())
            return kIoCancelled;
        const int events = waitFor(m_fd, POLLOUT);
        if (events < 0)
            return kIoError;
        if (events == 0)
            continue;
        int error = 0;
        socklen_t size = sizeof error;
        if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &size) < 0 || error != 0)
            return kIoError;
        return 0;
    }
    return kIoError;
}

int CTCP::send(const void* buf, int len, int /*flags*/) {
    if (m_fd < 0)
        return kIoError;
    if (cancelled())
        return kIoCancelled;
    const int events = waitFor(m_fd, POLLOUT);
    if (events < 0 || (events & (POLLERR | POLLNVAL)))
        return kIoError;
    if (events == 0)
        return kIoIdle;
    const ssize_t sent = ::send(m_fd, buf, static_cast<size_t>(len), MSG_NOSIGNAL);
    if (sent < 0)
        return (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? kIoIdle : kIoError;
    return static_cast<int>(sent);
}

int CTCP::recv(void* buf, int size, int /*flags*/) {
    if (m_fd < 0)
        return kIoError;
    if (cancelled())
        return kIoCancelled;
    const int events = waitFor(m_fd, POLLIN);
    if (events < 0 || (events & POLLNVAL))
        return kIoError;
    if (events == 0)
        return kIoIdle;
    const ssize_t got = ::recv(m_fd, buf, static_cast<size_t>(size), 0);
    if (got == 0)
        return kIoClosed;
    if (got < 0)
        return (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? kIoIdle : kIoError;
    return static_cast<int>(got);
}

void CTCP::close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

} // namespace zq
