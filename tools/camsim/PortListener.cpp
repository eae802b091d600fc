#include "PortListener.h"

#include "TcpLink.h"
#include "UdtLink.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <udt.h>
#include <unistd.h>

namespace camsim {

namespace {

bool makeAddress(const std::string& address, uint16_t port, sockaddr_in& out) {
    out = {};
    out.sin_family = AF_INET;
    out.sin_port = htons(port);
    return inet_pton(AF_INET, address.c_str(), &out.sin_addr) == 1;
}

} // namespace

PortListener::~PortListener() {
    close();
}

bool PortListener::open(const std::string& address, uint16_t port, bool withUdt,
                        std::string& error) {
    close();
    // An ephemeral TCP port may have its UDP twin taken; a few fresh picks settle it.
    const int attempts = (port == 0 && withUdt) ? 8 : 1;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (!bindTcp(address, port, error)) {
            return false;
        }
        if (!withUdt || bindUdt(address, m_port, error)) {
            return true;
        }
        close();
    }
    return false;
}

bool PortListener::bindTcp(const std::string& address, uint16_t port, std::string& error) {
    sockaddr_in local{};
    if (!makeAddress(address, port, local)) {
        error = "bad listen address " + address;
        return false;
    }
    m_tcp = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_tcp < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    const int one = 1;
    setsockopt(m_tcp, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(m_tcp, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::listen(m_tcp, 32) != 0) {
        error = "tcp port " + std::to_string(port) + ": " + std::strerror(errno);
        close();
        return false;
    }
    socklen_t size = sizeof local;
    getsockname(m_tcp, reinterpret_cast<sockaddr*>(&local), &size);
    m_port = ntohs(local.sin_port);
    return true;
}

bool PortListener::bindUdt(const std::string& address, uint16_t port, std::string& error) {
    UdtLink::startup();
    sockaddr_in local{};
    makeAddress(address, port, local);
    m_udt = UDT::socket(AF_INET, SOCK_STREAM, 0);
    if (m_udt == UDT::INVALID_SOCK) {
        error = std::string("udt socket: ") + UDT::getlasterror().getErrorMessage();
        return false;
    }
    // A non-blocking listener lets one thread poll both transports.
    const bool blocking = false;
    UDT::setsockopt(m_udt, 0, UDT_RCVSYN, &blocking, sizeof blocking);
    if (UDT::bind(m_udt, reinterpret_cast<sockaddr*>(&local), sizeof local) == UDT::ERROR ||
        UDT::listen(m_udt, 32) == UDT::ERROR) {
        error = "udt port " + std::to_string(port) + ": " + UDT::getlasterror().getErrorMessage();
        UDT::close(m_udt);
        m_udt = -1;
        return false;
    }
    return true;
}

void PortListener::close() {
    if (m_tcp >= 0) {
        ::close(m_tcp);
        m_tcp = -1;
    }
    if (m_udt != -1) {
        UDT::close(m_udt);
        m_udt = -1;
    }
    m_port = 0;
}

std::unique_ptr<Link> PortListener::accept(int waitMs) {
    if (m_udt != -1) {
        sockaddr_in remote{};
        int size = sizeof remote;
        const UDTSOCKET client = UDT::accept(m_udt, reinterpret_cast<sockaddr*>(&remote), &size);
        if (client != UDT::INVALID_SOCK) {
            return std::make_unique<UdtLink>(client);
        }
    }
    if (m_tcp < 0) {
        return nullptr;
    }
    pollfd pfd{m_tcp, POLLIN, 0};
    if (::poll(&pfd, 1, waitMs) <= 0) {
        return nullptr;
    }
    const int client = ::accept4(m_tcp, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) {
        return nullptr;
    }
    return std::make_unique<TcpLink>(client);
}

} // namespace camsim
