#include "UdtLink.h"

#include <arpa/inet.h>
#include <mutex>
#include <netinet/in.h>
#include <udt.h>

namespace camsim {

namespace {

bool timedOut() {
    const int code = UDT::getlasterror().getErrorCode();
    return code == CUDTException::ETIMEOUT || code == CUDTException::EASYNCRCV ||
           code == CUDTException::EASYNCSND;
}

} // namespace

void UdtLink::startup() {
    // Never paired with UDT::cleanup: other parts of the same process (a client under test) may
    // use UDT too, and cleanup would pull the library out from under them.
    static std::once_flag once;
    std::call_once(once, [] { UDT::startup(); });
}

UdtLink::UdtLink(int socket) : m_socket(socket) {
    // Accepted sockets inherit the listener's non-blocking mode; the link wants bounded waits.
    const bool blocking = true;
    UDT::setsockopt(m_socket, 0, UDT_RCVSYN, &blocking, sizeof blocking);
    UDT::setsockopt(m_socket, 0, UDT_SNDSYN, &blocking, sizeof blocking);
    // Without this, close() waits up to 180 s for unacknowledged data of a vanished client.
    const linger noLinger{0, 0};
    UDT::setsockopt(m_socket, 0, UDT_LINGER, &noLinger, sizeof noLinger);
}

UdtLink::~UdtLink() {
    close();
}

void UdtLink::setTimeouts(int receiveMs, int sendMs) {
    if (receiveMs != m_receiveTimeoutMs) {
        UDT::setsockopt(m_socket, 0, UDT_RCVTIMEO, &receiveMs, sizeof receiveMs);
        m_receiveTimeoutMs = receiveMs;
    }
    if (sendMs != m_sendTimeoutMs) {
        UDT::setsockopt(m_socket, 0, UDT_SNDTIMEO, &sendMs, sizeof sendMs);
        m_sendTimeoutMs = sendMs;
    }
}

int UdtLink::receive(uint8_t* buffer, size_t size, int waitMs) {
    if (m_socket == UDT::INVALID_SOCK) {
        return -1;
    }
    setTimeouts(waitMs < 1 ? 1 : waitMs, m_sendTimeoutMs < 0 ? 10 : m_sendTimeoutMs);
    const int got = UDT::recv(m_socket, reinterpret_cast<char*>(buffer), static_cast<int>(size), 0);
    if (got > 0) {
        return got;
    }
    if (got == UDT::ERROR && timedOut()) {
        return 0;
    }
    return -1;
}

int UdtLink::send(const uint8_t* data, size_t length, int waitMs) {
    if (m_socket == UDT::INVALID_SOCK) {
        return -1;
    }
    setTimeouts(m_receiveTimeoutMs < 0 ? 10 : m_receiveTimeoutMs, waitMs < 1 ? 1 : waitMs);
    const int sent =
        UDT::send(m_socket, reinterpret_cast<const char*>(data), static_cast<int>(length), 0);
    if (sent >= 0) {
        return sent;
    }
    return timedOut() ? 0 : -1;
}

void UdtLink::close() {
    if (m_socket != UDT::INVALID_SOCK) {
        UDT::close(m_socket);
        m_socket = UDT::INVALID_SOCK;
    }
}

std::string UdtLink::peer() const {
    sockaddr_in address{};
    int size = sizeof address;
    if (m_socket == UDT::INVALID_SOCK ||
        UDT::getpeername(m_socket, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        return "?";
    }
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

} // namespace camsim
