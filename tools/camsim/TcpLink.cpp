#include "TcpLink.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace camsim {

TcpLink::TcpLink(int fd) : m_fd(fd) {
    const int flags = fcntl(m_fd, F_GETFL, 0);
    fcntl(m_fd, F_SETFL, flags | O_NONBLOCK);
    // Fault injection writes single bytes; they must leave as single segments.
    const int one = 1;
    setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

TcpLink::~TcpLink() {
    close();
}

int TcpLink::receive(uint8_t* buffer, size_t size, int waitMs) {
    if (m_fd < 0) {
        return -1;
    }
    pollfd pfd{m_fd, POLLIN, 0};
    const int ready = ::poll(&pfd, 1, waitMs);
    if (ready < 0) {
        return errno == EINTR ? 0 : -1;
    }
    if (ready == 0) {
        return 0;
    }
    const ssize_t got = ::recv(m_fd, buffer, size, 0);
    if (got > 0) {
        return static_cast<int>(got);
    }
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        return 0;
    }
    return -1;
}

int TcpLink::send(const uint8_t* data, size_t length, int waitMs) {
    if (m_fd < 0) {
        return -1;
    }
    pollfd pfd{m_fd, POLLOUT, 0};
    const int ready = ::poll(&pfd, 1, waitMs);
    if (ready < 0) {
        return errno == EINTR ? 0 : -1;
    }
    if (ready == 0) {
        return 0;
    }
    // MSG_NOSIGNAL: a client that hangs up mid-answer must not kill the process with SIGPIPE.
    const ssize_t sent = ::send(m_fd, data, length, MSG_NOSIGNAL);
    if (sent >= 0) {
        return static_cast<int>(sent);
    }
    return (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? 0 : -1;
}

void TcpLink::close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

std::string TcpLink::peer() const {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    if (m_fd < 0 || getpeername(m_fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        return "?";
    }
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

} // namespace camsim
